// The baseline of the idle figure: an empty Qt window that only runs its main loop, as the
// program's window does when nothing runs.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(440, 200);
  window.show();
  return QApplication::exec();
}
