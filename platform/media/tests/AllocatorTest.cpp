#include <gtest/gtest.h>

#include <thread>

#include "platform/media/Allocator.h"

namespace {

ComPtr<IMemAllocator> NewAllocator() {
  ComPtr<IMemAllocator> allocator;
  EXPECT_EQ(CMemAllocator::Create(allocator.ReleaseAndGetAddressOf()), S_OK);
  return allocator;
}

TEST(MemAllocator, PropertiesAreCheckedAndFixedWhileCommitted) {
  auto allocator = NewAllocator();
  ALLOCATOR_PROPERTIES request{2, 1000, 3, 0};
  ALLOCATOR_PROPERTIES actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  request.cbAlign = 16;
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 2);
  EXPECT_EQ(actual.cbBuffer, 1000);
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  BYTE* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % 16, 0u);
  EXPECT_EQ(sample->GetSize(), 1000);
  EXPECT_EQ(sample->SetActualDataLength(1001), VFW_E_BUFFER_OVERFLOW);
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  sample->Release();
  EXPECT_EQ(allocator->Decommit(), S_OK);
}

TEST(MemAllocator, GetBufferWaitsForAFreeSampleAndDecommitReleasesWaiters) {
  auto allocator = NewAllocator();
  ALLOCATOR_PROPERTIES request{1, 64, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  IMediaSample* second = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

  HRESULT waited = S_OK;
  std::thread waiter([&] {
    IMediaSample* s = nullptr;
    waited = allocator->GetBuffer(&s, nullptr, nullptr, 0);
    if (s != nullptr) {
      s->Release();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  held->Release();  // the waiter gets it
  waiter.join();
  EXPECT_EQ(waited, S_OK);

  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  std::thread blocked([&] {
    IMediaSample* s = nullptr;
    waited = allocator->GetBuffer(&s, nullptr, nullptr, 0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(allocator->Decommit(), S_OK);
  blocked.join();
  EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);
  held->Release();
}

TEST(MemAllocator, AnOutstandingSampleKeepsItsAllocatorAlive) {
  const LONG before = CBaseObject::ObjectsActive();
  IMediaSample* sample = nullptr;
  {
    auto allocator = NewAllocator();
    ALLOCATOR_PROPERTIES request{1, 32, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(allocator->Decommit(), S_OK);
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
  BYTE* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);
  data[31] = 7;  // still valid memory
  sample->Release();
  EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

}  // namespace
