// The main window on native controls, shown on the real desktop (Wine's under Xvfb): found by
// its class like controlling programs find it, its LED picture drawn into the DIB and onto the
// screen, its controls wired to their roles.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/WideText.h"
#include "platform/win32/Win32Desktop.h"
#include "ui/win32/Win32MainForm.h"
// After the Windows API the form brings in.
#include <shellapi.h>

namespace {

using calvora::platform::win32::Win32Desktop;
using calvora::ui::Color;
using calvora::ui::Rect;
using calvora::ui::win32::Win32MainForm;

constexpr uint32_t kCommand = 2102;

// Lets the window paint what it was asked to.
void ProcessPending() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

struct ShownForm : ::testing::Test {
  ShownForm() {
    // A caption of this process's own tells this window from those of tests running beside it.
    caption = "Calvora Audio Mixer " + std::to_string(GetCurrentProcessId());
    form.SetCaption(caption);
    form.ShowAtStart();
    ProcessPending();
  }

  RECT PlaceOf(HWND control) const {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&place), 2);
    return place;
  }

  Win32Desktop desktop{"TCV_AudioMixer"};
  Win32MainForm form{reinterpret_cast<HWND>(desktop.OwnWindow()), "Calvora Audio Mixer"};
  std::string caption;
};

TEST_F(ShownForm, IsTheDesktopsWindowFoundByClassAndStillAnswersCommands) {
  const HWND found =
      FindWindowW(L"TCV_AudioMixer", calvora::platform::win32::Widen(caption).c_str());
  EXPECT_EQ(found, form.Handle());
  EXPECT_TRUE(form.ShownOnDesktop());
  EXPECT_EQ(form.Caption(), caption);

  RECT client{};
  GetClientRect(found, &client);
  EXPECT_EQ(client.right, Win32MainForm::kClientWidth);
  EXPECT_EQ(client.bottom, Win32MainForm::kPanCardHeight + Win32MainForm::kPanMixerHeight +
                               Win32MainForm::kPanSettHeight);

  // The form handles the frame and its controls; the command channel's messages go on to the
  // desktop.
  desktop.SetMessageHandler([](const calvora::platform::IncomingMessage& message) {
    return message.message == kCommand ? static_cast<int32_t>(message.lParam) + 1 : 0;
  });
  EXPECT_EQ(SendMessageW(found, kCommand, 0, 0x50001), 0x50002);
}

TEST_F(ShownForm, LedPictureIsDrawnIntoTheDibAndOntoTheScreen) {
  calvora::ui::Canvas& led = form.ImgLed;
  ASSERT_EQ(led.Width(), Win32MainForm::kLedWidth);
  ASSERT_EQ(led.Height(), Win32MainForm::kLedHeight);
  led.BeginPaint();
  led.FillRect(Rect{0, 0, led.Width(), led.Height()}, Color{0, 0, 0});
  led.FillRect(Rect{10, 5, 20, 15}, Color{0, 255, 0});
  led.FillRect(Rect{30, 5, 30, 15}, Color{255, 0, 0});  // empty: nothing drawn
  led.EndPaint();
  // Right and bottom are exclusive.
  EXPECT_EQ(form.ImgLed.Pixel(10, 5), 0x00ff00u);
  EXPECT_EQ(form.ImgLed.Pixel(19, 14), 0x00ff00u);
  EXPECT_EQ(form.ImgLed.Pixel(20, 14), 0u);
  EXPECT_EQ(form.ImgLed.Pixel(19, 15), 0u);
  EXPECT_EQ(form.ImgLed.Pixel(30, 5), 0u);

  led.DrawText(100, 2, "-20 dB", Color{255, 255, 0});
  int yellow = 0;
  int leftOfText = 0;
  for (int y = 0; y < led.Height(); ++y)
    for (int x = 0; x < led.Width(); ++x) {
      const uint32_t pixel = form.ImgLed.Pixel(x, y);
      yellow += pixel == 0xffff00u;
      leftOfText += x < 100 && pixel != 0 && pixel != 0x00ff00u;
    }
  EXPECT_GT(yellow, 10);
  EXPECT_EQ(leftOfText, 0);
  EXPECT_EQ(form.ImgLed.Pixel(99, 2), 0u);  // no background behind the text

  // RepaintNow shows the picture at once: the LED's place on the screen has its pixels.
  led.RepaintNow();
  const HWND ledView = ChildWindowFromPoint(form.Handle(), POINT{8 + 15, 48 + 10});
  ASSERT_NE(ledView, nullptr);
  const HDC shownLed = GetDC(ledView);
  EXPECT_EQ(GetPixel(shownLed, 15, 10), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(shownLed, 25, 10), RGB(0, 0, 0));
  ReleaseDC(ledView, shownLed);
}

TEST_F(ShownForm, ControlsReachTheirRolesAndStatesShowAsTheRolesSay) {
  int settingsClicks = 0;
  form.SBSettings->OnClick = [&] { ++settingsClicks; };
  SendMessageW(form.SBSettings->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(settingsClicks, 1);

  int doubleClicks = 0;
  form.LabSilence->OnDoubleClick = [&] { ++doubleClicks; };
  SendMessageW(form.Handle(), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(form.LabSilence->Handle()), STN_DBLCLK),
               reinterpret_cast<LPARAM>(form.LabSilence->Handle()));
  EXPECT_EQ(doubleClicks, 1);

  form.LabCard->SetText("Online");
  wchar_t shown[32]{};
  GetWindowTextW(form.LabCard->Handle(), shown, 32);
  EXPECT_STREQ(shown, L"Online");
  form.SGLevel->SetProgress(140);
  EXPECT_EQ(form.SGLevel->Progress(), 100);
  form.SGLevel->SetProgress(-3);
  EXPECT_EQ(form.SGLevel->Progress(), 0);

  // A hidden sound card panel gives its room to the mixer panel.
  const int mixerTop = PlaceOf(form.SGMixer->Handle()).top;
  form.PanCard.SetVisible(false);
  EXPECT_FALSE(IsWindowVisible(form.SGCard->Handle()));
  EXPECT_EQ(PlaceOf(form.SGMixer->Handle()).top, mixerTop - Win32MainForm::kPanCardHeight);
  form.SetClientHeight(Win32MainForm::kPanMixerHeight + Win32MainForm::kPanSettHeight);
  EXPECT_EQ(PlaceOf(form.SBSettings->Handle()).top, Win32MainForm::kPanMixerHeight + 6);
}

// The cursor a window shows when the mouse moves over it: the answer to WM_SETCURSOR, which
// a control asks its parent first.
HCURSOR CursorOver(HWND window) {
  SetCursor(nullptr);
  SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return GetCursor();
}

TEST_F(ShownForm, HandOverTheLedAndTheLevelLabelArrowElsewhere) {
  const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  const HWND ledView = ChildWindowFromPoint(form.Handle(), POINT{8 + 15, 48 + 10});
  ASSERT_NE(ledView, nullptr);
  EXPECT_EQ(CursorOver(ledView), hand);
  EXPECT_EQ(CursorOver(form.LabSilence->Handle()), hand);
  for (HWND other : {form.LabCard->Handle(), form.SGCard->Handle(), form.LabMixer->Handle(),
                     form.SGLevel->Handle()})
    EXPECT_EQ(CursorOver(other), arrow);

  // The window itself: the hand on the LED's black frame, the arrow on the rest of it.
  const auto cursorAt = [&](int x, int y) {
    POINT point{x, y};
    ClientToScreen(form.Handle(), &point);
    SetCursorPos(point.x, point.y);
    POINT now{};
    GetCursorPos(&now);
    EXPECT_EQ(now.x, point.x);
    EXPECT_EQ(now.y, point.y);
    return CursorOver(form.Handle());
  };
  EXPECT_EQ(cursorAt(7, 47), hand);
  EXPECT_EQ(cursorAt(5, 5), arrow);
  EXPECT_EQ(cursorAt(200, Win32MainForm::kPanCardHeight + 30), arrow);

  // A hidden LED shows no hand.
  form.PanLed.SetVisible(false);
  EXPECT_EQ(CursorOver(ledView), arrow);
  EXPECT_EQ(cursorAt(7, 47), arrow);
}

TEST_F(ShownForm, TrayIconIsAddedAgainWhenTheShellsNotificationAreaIsCreatedAnew) {
  if (!form.TrayIcon.Available())
    GTEST_SKIP() << "no notification area on this desktop";
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof probe;
  probe.hWnd = form.Handle();
  probe.uID = 1;
  // Changing nothing succeeds only for an icon the notification area has.
  const auto shown = [&] { return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE; };
  // As Explorer announces itself after a restart.
  const auto shellRestarts = [] {
    SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  };

  form.TrayIcon.SetVisible(true);
  EXPECT_TRUE(shown());
  // The notification area forgets every icon when Explorer ends.
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &probe));
  EXPECT_FALSE(shown());
  shellRestarts();
  ProcessPending();
  EXPECT_TRUE(shown());
  EXPECT_TRUE(form.TrayIcon.Visible());

  // An icon not shown stays away.
  form.TrayIcon.SetVisible(false);
  shellRestarts();
  ProcessPending();
  EXPECT_FALSE(shown());
}

TEST_F(ShownForm, CloseAsksFirstAndThenEndsTheMessageLoop) {
  bool allow = false;
  form.OnCloseQuery = [&] { return allow; };
  form.Close();
  EXPECT_FALSE(form.Closed());
  EXPECT_TRUE(IsWindowVisible(form.Handle()));

  allow = true;
  form.Close();
  EXPECT_TRUE(form.Closed());
  EXPECT_FALSE(form.ShownOnDesktop());
  MSG message{};
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
