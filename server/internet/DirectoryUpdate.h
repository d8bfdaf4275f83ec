#pragma once
/// One directory update: the form that tells a directory server a camera's address,
/// port and publishing status, its encoding, the post and the lines it leaves in the
/// output pane.

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "server/internet/FormPoster.h"
#include "server/internet/OutputSink.h"

namespace halvard::internet {

/// The page every directory server serves the update form on.
inline constexpr std::string_view kUpdatePage = "MonIPUpdate.aspx";
/// Size of the encoding buffer of the body, terminating zero byte included.
inline constexpr std::size_t kBodyBufferBytes = 1024;
/// The publishing status sent for a camera that is published.
inline constexpr std::string_view kStatusBroadcasting = "Broadcasting";

/// The field values of one update, in form order.
struct UpdateForm {
  std::string productId;    ///< the station's account identifier ("Sys Display Name")
  std::string userId;       ///< "Sys UserID"
  std::string password;     ///< "Sys Password"
  std::string displayName;  ///< group name, "-", camera name
  std::string ip;           ///< the camera address
  DWORD port = 0;           ///< "Internet Port"
  bool broadcasting = false;  ///< "Internet Broadcasting"
  std::string note;         ///< "Internet Broadcasting Note"
};

/// The form of a camera from the settings store (any thread).
[[nodiscard]] UpdateForm ReadUpdateForm(std::string_view group, std::string_view camera);

/// The body: ProductID=..&UserID=..&Password=..&DisplayName=..&IP=..&Port=..&Status=..
/// &Note=..&btnSubmit=Submit, values inserted as they are (directory servers expect them
/// without percent-encoding).
[[nodiscard]] std::string BuildUpdateBody(const UpdateForm& form);

/// The bytes sent: the UTF-8 body and its terminating zero byte when both fit the
/// 1024-byte buffer, else nothing at all (an empty request body).
[[nodiscard]] std::vector<char> EncodeUpdateBody(std::string_view body);

/// The server's answer: the text between "<BODY>" and the first "</BODY>" when
/// "<BODY>" is present and ends before "</BODY>" begins; nullopt when a marker is
/// missing, they are in the wrong order, or they enclose nothing. Case-sensitive.
[[nodiscard]] std::optional<std::string> ExtractAnswer(std::string_view reply);

/// The texts of the lines written to the output pane. The user interface passes the
/// resource module's strings; the defaults are the English ones.
struct UpdateTexts {
  std::string answerPrefix = "Directory server answer:";
  std::string failurePrefix = "Directory update failed:";
  std::string privatePrefix = "The published camera address";
  /// Follows the address directly, so it starts with its own blank.
  std::string privateClosing = " is a private address: viewers on the internet cannot reach it.";
};

/// Posts the camera's update to one directory server and reports to the sink: the
/// answer prefix, a blank and the answer when the reply carries one; the failure prefix,
/// a blank and the error text when the post fails; nothing otherwise, nor when `stop`
/// cancelled the post. No retry.
/// Threads: any; the settings are read at the time of the post.
void PostUpdate(std::string_view group, std::string_view camera, std::string_view host, std::string_view page,
                IOutputSink& sink, IFormPoster& poster, const UpdateTexts& texts = {},
                std::stop_token stop = {});

/// The private-address warning line: prefix, blank, address, closing text.
[[nodiscard]] std::string PrivateAddressLine(std::string_view address, const UpdateTexts& texts);

}  // namespace halvard::internet
