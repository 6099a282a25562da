#pragma once
// Tells the end of the desktop session from a mere save of it. The session manager ends a
// session by telling the program to die, which Qt delivers as the application's quit event;
// a save (the commit-data request) also comes while the session goes on, at checkpoints, and
// is not taken as an end. The quit event is caught before Qt closes the windows the ordinary
// way, which would ask for confirmation.
#include <QObject>
#include <functional>

namespace calvora::platform::qt {

class SessionEnd : public QObject {
 public:
  // onEnd runs when the application is told to quit while windowOpen() says the main window
  // is still open (the program's own quit after closing its window is no session end).
  SessionEnd(std::function<bool()> windowOpen, std::function<void()> onEnd);
  ~SessionEnd() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool()> windowOpen_;
  std::function<void()> onEnd_;
};

}  // namespace calvora::platform::qt
