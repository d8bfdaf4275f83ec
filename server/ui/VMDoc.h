#pragma once
/// The camera document: one input of a running group, with its pan-tilt-zoom
/// controller, its frame window (CVMFrame) and view (CVMView). The main frame opens it
/// when the engine asks and closes it for good when the group stops.

#include <memory>
#include <string>

#include "server/ptz/PtzController.h"

namespace halvard::engine {
class CameraGroup;
}

namespace halvard::ui {

class CVMDoc;
class CVMFrame;

/// What a camera document tells its owner (the main frame). User-interface thread.
class ICameraDocumentOwner {
 public:
  virtual ~ICameraDocumentOwner() = default;
  /// The camera's motion command (324) reached the frame.
  virtual void OnCameraMotion(CVMDoc& doc) = 0;
  /// The operator closed the frame; it is hidden already.
  virtual void OnCameraClosedByOperator(CVMDoc& doc) = 0;
  /// A command of the camera window's context menu.
  virtual void OnCameraCommand(CVMDoc& doc, unsigned command) = 0;
  /// A numbered text.
  [[nodiscard]] virtual std::string DocumentText(unsigned id) = 0;
};

/// Threads: the user-interface thread only.
class CVMDoc {
 public:
  /// `group` identifies the engine's group (never dereferenced here); groupName and
  /// inputName are the display names that address the camera's settings.
  CVMDoc(ICameraDocumentOwner& owner, engine::CameraGroup* group, int input, std::string groupName,
         std::string inputName);
  ~CVMDoc();
  CVMDoc(const CVMDoc&) = delete;
  CVMDoc& operator=(const CVMDoc&) = delete;

  [[nodiscard]] engine::CameraGroup* Group() const { return m_group; }
  [[nodiscard]] int Input() const { return m_input; }
  [[nodiscard]] const std::string& GroupName() const { return m_groupName; }
  [[nodiscard]] const std::string& InputName() const { return m_inputName; }
  void SetInputName(std::string name) { m_inputName = std::move(name); }

  /// Reads "Input PTZ" and configures the controller from the camera's settings.
  void LoadSettings();
  /// The controller while the camera's pan-tilt-zoom control is on, else null.
  [[nodiscard]] ptz::CPtzController* PtzController() { return m_ptzEnabled ? &m_ptz : nullptr; }

  [[nodiscard]] ICameraDocumentOwner& Owner() const { return m_owner; }
  /// The frame (owned by the main frame's document area); null before it is made.
  [[nodiscard]] CVMFrame* Frame() const { return m_frame; }
  void SetFrame(CVMFrame* frame) { m_frame = frame; }

 private:
  ICameraDocumentOwner& m_owner;
  engine::CameraGroup* m_group;
  int m_input;
  std::string m_groupName;
  std::string m_inputName;
  ptz::CPtzController m_ptz;
  bool m_ptzEnabled = false;
  CVMFrame* m_frame = nullptr;
};

}  // namespace halvard::ui
