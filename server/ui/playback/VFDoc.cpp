#include "server/ui/playback/VFDoc.h"

#include <cstdio>

#include <QPrinter>

#include "platform/media/Types.h"
#include "server/archive/Archive.h"
#include "server/archive/Stills.h"
#include "server/ui/Commands.h"
#include "server/ui/playback/PlaybackTexts.h"
#include "server/ui/playback/StillFrame.h"
#include "server/ui/playback/VFFrame.h"
#include "server/ui/playback/VFView.h"

namespace halvard::ui::playback {

namespace {

/// What the operator reads after "error <n>:" for the common results.
std::string ResultText(HRESULT hr) {
  switch (hr) {
    case E_FAIL:
      return "Unspecified error";
    case E_OUTOFMEMORY:
      return "Not enough memory";
    case E_NOINTERFACE:
      return "No such interface supported";
    case VFW_E_NOT_FOUND:
      return "The file was not found";
    case VFW_E_INVALID_FILE_FORMAT:
      return "The file format is invalid or the file is damaged";
    case VFW_E_UNKNOWN_FILE_TYPE:
      return "The media type of this file is not recognized";
    case VFW_E_CANNOT_RENDER:
      return "No combination of filters could be found to render the stream";
    default:
      return "The media pipeline reported a failure";
  }
}

}  // namespace

bool NamesFromSelection(const std::vector<std::string>& treeNames, PlaybackNames* names) {
  if (names == nullptr || (treeNames.size() != 4 && treeNames.size() != 5)) {
    return false;
  }
  *names = {treeNames[0], treeNames[1], treeNames[2], treeNames[3], treeNames.size() == 5 ? treeNames[4] : ""};
  return true;
}

CVFDoc::CVFDoc(IPlaybackDocumentOwner& owner, PlaybackNames names)
    : m_owner(owner), m_buildGraph(CreatePlaybackGraph), m_readInfo(ReadVideoFileInfo), m_names(std::move(names)) {
  m_path = archive::ItemPath(m_names.group, m_names.input, m_names.day, m_names.file, m_names.still);
  m_cameraKey = archive::ArchiveIndexKey(m_names.group, m_names.input);
  m_fileKey = archive::ArchiveIndexKey(m_names.group, m_names.input, m_names.day, m_names.file);
  m_player = std::make_unique<CPlaybackController>([this](GraphError* error) { return BuildGraph(error); },
                                                    [this](bool run) {
                                                      if (m_frame != nullptr) {
                                                        m_frame->View()->SetSliderTimer(run);
                                                      }
                                                    });
}

CVFDoc::~CVFDoc() { Close(); }

std::unique_ptr<IPlaybackGraph> CVFDoc::BuildGraph(GraphError* error) {
  const CVFView* view = m_frame != nullptr ? m_frame->View() : nullptr;
  return m_buildGraph(m_path, m_info, view != nullptr ? view->Handle() : HWND{},
                      view != nullptr ? view->Surface() : nullptr, error);
}

void CVFDoc::ReportOpenFailure(const GraphError& error) {
  std::string text;
  if (error.textId != 0) {
    text = m_owner.DocumentText(error.textId) + "\n";
  }
  char line[512];
  const std::string format = m_owner.DocumentText(kIdsOpenFileFailed);
  std::snprintf(line, sizeof line, "%s failed with error %d: %s", "OpenFile", static_cast<int>(error.hr),
                ResultText(error.hr).c_str());
  // The numbered text may word it differently; the figures stay the same.
  if (format.find("%s") != std::string::npos && format.find("%d") != std::string::npos) {
    std::snprintf(line, sizeof line, format.c_str(), "OpenFile", static_cast<int>(error.hr),
                  ResultText(error.hr).c_str());
  }
  m_owner.ShowDocumentMessage(text + line + "\n" + m_path, true);
}

bool CVFDoc::Open() {
  if (m_path.empty()) {
    ReportOpenFailure({0, VFW_E_NOT_FOUND, "OpenFile"});
    return false;
  }
  if (IsStill()) {
    m_still = QImage(QString::fromStdString(m_path));
    if (m_still.isNull()) {
      ReportOpenFailure({0, VFW_E_INVALID_FILE_FORMAT, "OpenFile"});
      return false;
    }
    m_info = {};
    m_info.width = m_still.width();
    m_info.height = m_still.height();
    return true;
  }
  // A file that gives no information (empty, cut off before its header) cannot be
  // played; one that is still being written reads with a length of 0 and plays.
  if (!m_readInfo(m_path, &m_info)) {
    ReportOpenFailure({0, VFW_E_INVALID_FILE_FORMAT, "OpenFile"});
    return false;
  }
  GraphError error;
  if (!m_player->Open(&error)) {
    ReportOpenFailure(error);
    return false;
  }
  return true;
}

void CVFDoc::Close() { m_player->Close(); }

bool CVFDoc::SeekToSeconds(double seconds) { return m_player->SeekToSeconds(seconds); }

bool CVFDoc::RunCommand(UINT command) {
  switch (command) {
    case kCmdPlayerPlay:
      if (!IsStill()) {
        (void)m_player->Play();
      }
      return true;
    case kCmdPlayerPauseContinue:
    case kCmdPauseContinue:
      (void)m_player->PauseContinue();
      return true;
    case kCmdPlayerStep:
    case kCmdStepForward:
      (void)m_player->Step();
      return true;
    case kCmdPlayerFaster:
    case kCmdPlayFaster:
      (void)m_player->Faster();
      return true;
    case kCmdPlayerSlower:
    case kCmdPlaySlower:
      (void)m_player->Slower();
      return true;
    case kCmdPlayerSavePicture:
    case kCmdSavePicture:
      if (!IsStill()) {
        (void)SaveCurrentPicture();
      }
      return true;
    case kCmdPlayerPrint:
    case kCmdStillPrint:
      (void)PrintCurrentFrame();
      return true;
    default:
      return false;
  }
}

template <class Grab>
bool CVFDoc::WithPlayerDown(Grab grab) {
  // The detector cannot read a file the graph holds: the graph goes first and comes
  // back at the same place, paused if it was, also when the grab failed (a player
  // left without its graph would show nothing until it is opened again).
  const PlayerPlace place = m_player->TearDown();
  const bool ok = grab(place);
  (void)m_player->Rebuild(place);
  return ok;
}

std::string CVFDoc::TakeStill() {
  if (IsStill() || !m_player->IsOpen()) {
    return {};
  }
  std::string name;
  const bool ok = WithPlayerDown([&](const PlayerPlace& place) {
    name = archive::StillPictureName(place.mediaTime);
    const std::string still = archive::StillPicturePath(m_path, name);
    return !still.empty() && archive::CreateParentFolders(still) &&
           WriteFrameBitmap(m_path, place.seconds, m_info.width, m_info.height, still);
  });
  if (!ok || !archive::RegisterStillPicture(m_names.group, m_names.input, m_names.day, m_names.file, name)) {
    return {};
  }
  return name;
}

bool CVFDoc::SaveCurrentPicture() {
  const std::string name = TakeStill();
  if (name.empty()) {
    m_owner.ShowDocumentMessage(m_owner.DocumentText(kIdsSaveFailed) + "\n" + m_path);
    return false;
  }
  m_owner.OnStillSaved(*this, name);
  return true;
}

bool CVFDoc::PrintCurrentFrame() {
  QImage image;
  if (IsStill()) {
    image = m_still;
  } else if (m_player->IsOpen()) {
    (void)WithPlayerDown([&](const PlayerPlace& place) {
      image = ReadFrameImage(m_path, place.seconds, m_info.width, m_info.height);
      return !image.isNull();
    });
  }
  if (image.isNull()) {
    m_owner.ShowDocumentMessage(m_owner.DocumentText(kIdsPrintFailed) + "\n" + m_path);
    return false;
  }
  QPrinter printer(QPrinter::HighResolution);
  if (!m_owner.ChoosePrinter(printer)) {
    return false;
  }
  if (!PrintFrame(printer, image, QString::fromStdString(m_owner.DocumentText(kIdsPrintHeading)))) {
    m_owner.ShowDocumentMessage(m_owner.DocumentText(kIdsPrintFailed) + "\n" + m_path);
    return false;
  }
  return true;
}

}  // namespace halvard::ui::playback
