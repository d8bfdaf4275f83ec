#pragma once
// A pseudo-terminal standing in for a serial port: HALVARD_COM<n> names its slave for
// the lifetime of the object, and the test reads what the port wrote from the master.

#include <termios.h>

#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace halvard::ptz::testing {

class CPseudoTerminal {
 public:
  explicit CPseudoTerminal(int portNumber = 1);
  ~CPseudoTerminal();
  CPseudoTerminal(const CPseudoTerminal&) = delete;
  CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

  [[nodiscard]] bool Ok() const { return m_master >= 0 && m_slave >= 0; }
  [[nodiscard]] const std::string& SlavePath() const { return m_slavePath; }

  // Waits (a few seconds at most) until `count` bytes have arrived, then collects
  // anything that follows within a short settling pause, and returns all of it.
  [[nodiscard]] std::vector<BYTE> Read(std::size_t count);
  // Whatever has arrived so far, without waiting for more than the settling pause.
  [[nodiscard]] std::vector<BYTE> ReadAvailable();

  // The line settings of the slave as seen from the master.
  [[nodiscard]] termios Settings() const;

 private:
  int m_port;
  int m_master = -1;
  int m_slave = -1;  // held open so that the line and its settings outlive each command
  std::string m_slavePath;
  std::string m_previous;
  bool m_hadPrevious = false;
};

// 7-byte frames as a byte list, for comparisons.
[[nodiscard]] std::vector<BYTE> Bytes(std::initializer_list<int> values);

}  // namespace halvard::ptz::testing
