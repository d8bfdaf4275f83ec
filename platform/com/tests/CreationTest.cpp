#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/com/tests/ComTestSupport.h"
#include "platform/com/tests/TestComponent.h"
#include "tests/support/TestSupport.h"

namespace {

using halvard::com::FormatGuid;
using halvard::comtest::Canonical;
using halvard::comtest::IsLoaded;
using halvard::comtest::KeyExists;
using halvard::comtest::ReadSz;
using halvard::comtest::WriteServer;
using halvard::testing::LibraryPath;
using halvard::testing::ProgramPath;
using halvard::testing::RunCommand;
using halvard::testing::ScopedRegistry;
using halvard::testing::ShellQuote;
using halvard::testing::TempDir;

HALVARD_DEFINE_GUID(kProbe, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55);

std::string ComponentPath() { return LibraryPath("libcomtest_component.so"); }
std::string BrokenPath() { return LibraryPath("libcomtest_broken.so"); }

// ---- built-in classes ---------------------------------------------------------------

// {F757B7F0-F9CA-45A7-9CBF-B03A451AE5FD}
HALVARD_DEFINE_GUID(CLSID_BuiltinThing, 0xF757B7F0, 0xF9CA, 0x45A7, 0x9C, 0xBF, 0xB0, 0x3A, 0x45, 0x1A, 0xE5, 0xFD);

std::atomic<int> g_builtinLive{0};

class CBuiltinThing final : public IPersist {
 public:
  CBuiltinThing() { ++g_builtinLive; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPersist) {
      *ppv = static_cast<IPersist*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) {
      --g_builtinLive;
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = CLSID_BuiltinThing;
    return S_OK;
  }

 private:
  ~CBuiltinThing() = default;
  std::atomic<ULONG> m_refs{1};
};

HRESULT CreateBuiltinThing(REFIID riid, void** ppv) {
  auto* thing = new CBuiltinThing();
  const HRESULT hr = thing->QueryInterface(riid, ppv);
  thing->Release();
  return hr;
}

HRESULT RefuseBuiltinThing(REFIID, void** ppv) {
  *ppv = nullptr;
  return E_ACCESSDENIED;
}

TEST(BuiltinClass, CreatedBeforeAnyRegistrationAndThroughItsFactory) {
  const ScopedRegistry registry;
  // A registration naming a missing library must not matter: built-in classes come first.
  WriteServer(CLSID_BuiltinThing, "/nonexistent/libthing.so");
  halvard::com::CoRegisterBuiltinClass(CLSID_BuiltinThing, &CreateBuiltinThing);
  {
    ComPtr<IPersist> thing;
    ASSERT_EQ(halvard::com::CreateInstance(CLSID_BuiltinThing, &thing), S_OK);
    CLSID clsid{};
    EXPECT_EQ(thing->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_BuiltinThing);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_BuiltinThing, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.PutVoid()),
              S_OK);
    ComPtr<IPersist> second;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, second.PutVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(thing.Get(), IID_IPersist, second.PutVoid()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(g_builtinLive, 1);

    void* raw = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_BuiltinThing, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &raw),
              E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_BuiltinThing, thing.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &raw),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_BuiltinThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_POINTER);
  }
  EXPECT_EQ(g_builtinLive, 0);

  // Replacing the creator takes effect; removing it falls back to the registration.
  halvard::com::CoRegisterBuiltinClass(CLSID_BuiltinThing, &RefuseBuiltinThing);
  ComPtr<IPersist> thing;
  EXPECT_EQ(halvard::com::CreateInstance(CLSID_BuiltinThing, &thing), E_ACCESSDENIED);
  halvard::com::CoRegisterBuiltinClass(CLSID_BuiltinThing, nullptr);
  EXPECT_EQ(halvard::com::CreateInstance(CLSID_BuiltinThing, &thing), CO_E_DLLNOTFOUND);
}

// ---- registration through halvard-regsvr -----------------------------------------------

TEST(Registration, RegsvrWritesTheClassKeyAndTheClassIsCreatable) {
  const ScopedRegistry registry;
  const auto result =
      RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " " + ShellQuote(ComponentPath()), true);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("DllRegisterServer"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("succeeded"), std::string::npos) << result.output;

  const std::string classKey = "CLSID\\" + FormatGuid(CLSID_TestAdder);
  EXPECT_EQ(ReadSz(classKey, ""), "Test Adder");
  EXPECT_EQ(Canonical(ReadSz(classKey + "\\InprocServer32", "")), Canonical(ComponentPath()));
  EXPECT_TRUE(ReadSz(classKey + "\\InprocServer32", "").starts_with("/"));
  EXPECT_EQ(ReadSz(classKey + "\\InprocServer32", "ThreadingModel"), "Both");

  ComPtr<ITestAdder> adder;
  ASSERT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &adder), S_OK);
  LONG sum = 0;
  EXPECT_EQ(adder->Add(40, 2, &sum), S_OK);
  EXPECT_EQ(sum, 42);
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(adder.As(&unknown), S_OK);
  ComPtr<IPersist> persist;
  EXPECT_EQ(adder.As(&persist), E_NOINTERFACE);

  // Unregistering removes the class key tree; creation then finds no class.
  const auto removed =
      RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " -u " + ShellQuote(ComponentPath()), true);
  ASSERT_EQ(removed.status, 0) << removed.output;
  EXPECT_NE(removed.output.find("DllUnregisterServer"), std::string::npos) << removed.output;
  EXPECT_FALSE(KeyExists(classKey));
  EXPECT_FALSE(KeyExists("CLSID\\" + FormatGuid(CLSID_TestRefusing)));
  ComPtr<ITestAdder> again;
  EXPECT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &again), REGDB_E_CLASSNOTREG);
  // Unregistering twice is not an error.
  EXPECT_EQ(RunCommand(ShellQuote(ProgramPath("halvard-regsvr")) + " -u " + ShellQuote(ComponentPath())).status, 0);
}

TEST(Registration, LibraryNamedRelativeToTheCurrentFolderRegistersItsAbsolutePath) {
  const ScopedRegistry registry;
  const TempDir dir;
  std::filesystem::copy_file(ComponentPath(), dir.File("libcopy.so"));
  const auto result = RunCommand("cd " + ShellQuote(dir.Path().string()) + " && " +
                                     ShellQuote(ProgramPath("halvard-regsvr")) + " libcopy.so",
                                 true);
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(Canonical(ReadSz("CLSID\\" + FormatGuid(CLSID_TestAdder) + "\\InprocServer32", "")),
            Canonical(dir.File("libcopy.so")));
}

TEST(Registration, RegsvrReportsEachFailureAndExitsNonZero) {
  const ScopedRegistry registry;
  const std::string regsvr = ShellQuote(ProgramPath("halvard-regsvr"));
  const TempDir dir;
  {
    std::ofstream(dir.File("notalib.so")) << "not a library\n";
  }

  auto r = RunCommand(regsvr + " /nonexistent/libnothing.so", true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot load"), std::string::npos) << r.output;

  r = RunCommand(regsvr + " " + ShellQuote(dir.File("notalib.so")), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot load"), std::string::npos) << r.output;

  r = RunCommand(regsvr + " " + ShellQuote(BrokenPath()), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("SELFREG_E_CLASS (0x80040201)"), std::string::npos) << r.output;

  r = RunCommand(regsvr + " -u " + ShellQuote(BrokenPath()), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("DllUnregisterServer not found"), std::string::npos) << r.output;

  // A failure does not stop the others, and still makes the exit status non-zero.
  r = RunCommand(regsvr + " /nonexistent/libnothing.so " + ShellQuote(ComponentPath()), true);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("succeeded"), std::string::npos) << r.output;
  EXPECT_TRUE(KeyExists("CLSID\\" + FormatGuid(CLSID_TestAdder)));

  for (const char* arguments : {"", " -u", " -x lib.so", " ''"}) {
    r = RunCommand(regsvr + arguments, true);
    EXPECT_EQ(r.status, 2) << arguments;
    EXPECT_NE(r.output.find("usage: halvard-regsvr"), std::string::npos) << arguments << r.output;
  }
}

// ---- broken registrations ----------------------------------------------------------------

TEST(Creation, BrokenRegistrationsGiveTheirResultCodes) {
  const ScopedRegistry registry;
  const TempDir dir;
  {
    std::ofstream(dir.File("notalib.so")) << "\x7f" "ELF but not really\n";
  }
  ComPtr<ITestAdder> adder;

  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), REGDB_E_CLASSNOTREG);  // nothing registered

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\" + FormatGuid(kProbe), &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), REGDB_E_CLASSNOTREG);  // no InprocServer32

  WriteServer(kProbe, "");
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), REGDB_E_CLASSNOTREG);  // empty path

  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\" + FormatGuid(kProbe) + "\\InprocServer32", 0, KEY_ALL_ACCESS,
                         &key),
            ERROR_SUCCESS);
  const DWORD number = 7;
  EXPECT_EQ(RegSetValueEx(key, "", REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), REGDB_E_CLASSNOTREG);  // path of the wrong type

  WriteServer(kProbe, dir.File("missing.so"));
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), CO_E_DLLNOTFOUND);
  EXPECT_NE(halvard::com::LastLibraryError().find("missing.so"), std::string::npos)
      << halvard::com::LastLibraryError();

  WriteServer(kProbe, dir.File("notalib.so"));
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), CO_E_DLLNOTFOUND);

  WriteServer(kProbe, dir.Path().string());  // a folder
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), CO_E_DLLNOTFOUND);

  WriteServer(kProbe, BrokenPath());
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), CO_E_ERRORINDLL);
  EXPECT_NE(halvard::com::LastLibraryError().find("DllGetClassObject"), std::string::npos);
  void* raw = nullptr;
  EXPECT_EQ(CoGetClassObject(kProbe, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &raw), CO_E_ERRORINDLL);

  // A good library asked for a class it does not hold.
  WriteServer(kProbe, ComponentPath());
  EXPECT_EQ(halvard::com::CreateInstance(kProbe, &adder), CLASS_E_CLASSNOTAVAILABLE);

  // A factory that refuses: its own result comes back and nothing is handed out.
  WriteServer(CLSID_TestRefusing, ComponentPath());
  raw = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestRefusing, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder, &raw),
            kTestRefusal);
  EXPECT_EQ(raw, nullptr);

  // The good class of the same library still works, and asks for a wrong interface fail cleanly.
  WriteServer(CLSID_TestAdder, ComponentPath());
  EXPECT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &adder), S_OK);
  ComPtr<IPersist> persist;
  EXPECT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &persist), E_NOINTERFACE);
  EXPECT_EQ(CoCreateInstance(CLSID_TestAdder, nullptr, 0x4 /* local server */, IID_ITestAdder, &raw),
            REGDB_E_CLASSNOTREG);
}

// ---- unloading ------------------------------------------------------------------------

LONG LiveObjects(ITestAdder* adder) {
  LONG objects = -1;
  LONG locks = -1;
  EXPECT_EQ(adder->GetCounts(&objects, &locks), S_OK);
  return objects;
}

TEST(Unloading, OnlyWhenTheLibrarySaysSo) {
  const ScopedRegistry registry;
  WriteServer(CLSID_TestAdder, ComponentPath());
  CoFreeUnusedLibraries();  // earlier tests of this process may have used the component
  ASSERT_FALSE(IsLoaded(ComponentPath())) << "another test left the component loaded";

  ComPtr<ITestAdder> adder;
  ASSERT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &adder), S_OK);
  EXPECT_EQ(LiveObjects(adder.Get()), 1);  // the factory is gone, the object lives
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsLoaded(ComponentPath()));
  LONG sum = 0;
  EXPECT_EQ(adder->Add(1, 2, &sum), S_OK);  // still callable
  adder.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(ComponentPath()));

  // A locked server stays loaded without any object; loading again after an unload works.
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutVoid()),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(IsLoaded(ComponentPath()));
  ASSERT_EQ(CoGetClassObject(CLSID_TestAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutVoid()),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(ComponentPath()));
}

TEST(Unloading, TheLastUninitialisingThreadFreesUnusedLibraries) {
  const ScopedRegistry registry;
  WriteServer(CLSID_TestAdder, ComponentPath());
  CoFreeUnusedLibraries();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  std::thread other([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    ComPtr<ITestAdder> adder;
    EXPECT_EQ(halvard::com::CreateInstance(CLSID_TestAdder, &adder), S_OK);
    adder.Reset();
    CoUninitialize();  // the main thread is still initialised: nothing unloads
  });
  other.join();
  EXPECT_TRUE(IsLoaded(ComponentPath()));
  CoUninitialize();
  EXPECT_TRUE(IsLoaded(ComponentPath()));
  CoUninitialize();
  EXPECT_FALSE(IsLoaded(ComponentPath()));
  CoUninitialize();  // unbalanced: harmless
}

TEST(Creation, ManyThreadsLoadAndCreateAtOnce) {
  const ScopedRegistry registry;
  WriteServer(CLSID_TestAdder, ComponentPath());
  constexpr int kThreads = 4;
  constexpr int kRounds = 100;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures] {
      std::vector<ComPtr<ITestAdder>> kept;
      for (int i = 0; i < kRounds; ++i) {
        ComPtr<ITestAdder> adder;
        LONG sum = 0;
        if (halvard::com::CreateInstance(CLSID_TestAdder, &adder) != S_OK || adder->Add(i, 1, &sum) != S_OK ||
            sum != i + 1) {
          ++failures;
        }
        kept.push_back(std::move(adder));
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures, 0);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(ComponentPath()));
}

}  // namespace
