#include "server/internet/DirectoryUpdate.h"

#include <algorithm>

#include "platform/base/Text.h"
#include "server/internet/AddressDiscovery.h"
#include "server/settings/Settings.h"

namespace halvard::internet {

UpdateForm ReadUpdateForm(std::string_view group, std::string_view camera) {
  UpdateForm form;
  form.productId = settings::kSysDisplayName.Read();
  form.userId = settings::kSysUserId.Read();
  form.password = settings::kSysPassword.Read();
  form.displayName = std::string(group) + "-" + std::string(camera);
  form.ip = CameraAddress(group, camera);
  form.port = settings::ReadInternetPort(group, camera);
  form.broadcasting = settings::kInternetBroadcasting.Read(group, camera) != 0;
  form.note = settings::kInternetBroadcastingNote.Read(group, camera);
  return form;
}

std::string BuildUpdateBody(const UpdateForm& form) {
  std::string body;
  body += "ProductID=" + form.productId;
  body += "&UserID=" + form.userId;
  body += "&Password=" + form.password;
  body += "&DisplayName=" + form.displayName;
  body += "&IP=" + form.ip;
  body += "&Port=" + std::to_string(form.port);
  body += "&Status=";
  if (form.broadcasting) {
    body += kStatusBroadcasting;
  }
  body += "&Note=" + form.note;
  body += "&btnSubmit=Submit";
  return body;
}

std::vector<char> EncodeUpdateBody(std::string_view body) {
  if (body.size() + 1 > kBodyBufferBytes) {
    return {};
  }
  std::vector<char> bytes(body.begin(), body.end());
  bytes.push_back('\0');
  return bytes;
}

std::optional<std::string> ExtractAnswer(std::string_view reply) {
  constexpr std::string_view kOpen = "<BODY>";
  constexpr std::string_view kClose = "</BODY>";
  const std::size_t open = reply.find(kOpen);
  const std::size_t close = reply.find(kClose);
  if (open == std::string_view::npos || close == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t start = open + kOpen.size();
  if (start >= close) {
    return std::nullopt;
  }
  return std::string(reply.substr(start, close - start));
}

std::string PrivateAddressLine(std::string_view address, const UpdateTexts& texts) {
  return texts.privatePrefix + " " + std::string(address) + texts.privateClosing;
}

void PostUpdate(std::string_view group, std::string_view camera, std::string_view host, std::string_view page,
                IOutputSink& sink, IFormPoster& poster, const UpdateTexts& texts, std::stop_token stop) {
  const std::vector<char> body = EncodeUpdateBody(BuildUpdateBody(ReadUpdateForm(group, camera)));
  std::string reply;
  std::string errorText;
  const HRESULT hr = poster.Post(host, page, body, stop, &reply, &errorText);
  if (hr == E_ABORT) {
    return;
  }
  if (FAILED(hr)) {
    Report(sink, texts.failurePrefix + " " + TruncateChars(errorText, kMaxErrorChars));
    return;
  }
  // The reply is read as a terminated UTF-8 string: it ends at its first zero byte, and
  // bytes that are not UTF-8 (or a sequence cut by the read limit) become U+FFFD.
  reply.resize(std::min(reply.size(), reply.find('\0')));
  reply = text::Utf16ToUtf8(text::Utf8ToUtf16(reply));
  if (const std::optional<std::string> answer = ExtractAnswer(reply)) {
    Report(sink, texts.answerPrefix + " " + *answer);
  }
}

}  // namespace halvard::internet
