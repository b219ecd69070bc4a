// A control that writes every message it receives into a shared log, for
// the routing, focus and paint tests.
#pragma once
#include <string>
#include <vector>

#include "ui_app.h"
#include "ui_headless.h"

namespace uitest {

class Probe : public ui::TCustomControl {
 public:
  Probe(ui::TComponent* owner, ui::TWinControl* parent, std::string name, std::vector<std::string>* log,
        ui::TRect bounds)
      : TCustomControl(owner), mLog(log) {
    Name = std::move(name);
    SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    SetParent(parent);
    SetTabStop(true);
  }
  bool CaptureOnDown = false;
  bool ReleaseOnUp = false;
  bool HandleWheel = false;
  ui::TColor Fill = ui::clNone;
  int Paints = 0;
  std::function<void()> DuringPaint;

  intptr_t WmMouseMove(const ui::TMouseMsg& m) override {
    Log("move " + Name + " " + std::to_string(m.X) + "," + std::to_string(m.Y));
    return TCustomControl::WmMouseMove(m);
  }
  intptr_t WmLButtonDown(const ui::TMouseMsg& m) override {
    Log("down " + Name + " " + std::to_string(m.X) + "," + std::to_string(m.Y));
    if (CaptureOnDown) ui::SetCapture(this);
    return TCustomControl::WmLButtonDown(m);
  }
  intptr_t WmLButtonUp(const ui::TMouseMsg& m) override {
    Log("up " + Name + " " + std::to_string(m.X) + "," + std::to_string(m.Y));
    intptr_t r = TCustomControl::WmLButtonUp(m);
    if (ReleaseOnUp && ui::GetCapture() == this) ui::ReleaseCapture();
    return r;
  }
  intptr_t WmCaptureChanged() override {
    Log("capture-changed " + Name);
    return TCustomControl::WmCaptureChanged();
  }
  intptr_t WmMouseWheel(const ui::TWheelMsg& m) override {
    Log("wheel " + Name + " " + std::to_string(m.Delta));
    return HandleWheel ? 1 : 0;
  }
  intptr_t WmKeyDown(uint16_t& key, ui::TShiftState shift) override {
    Log("key " + Name + " " + std::to_string(key));
    return TCustomControl::WmKeyDown(key, shift);
  }
  void MouseEnter() override { Log("enter " + Name); }
  void MouseLeave() override { Log("leave " + Name); }
  void Click() override {
    Log("click " + Name);
    TCustomControl::Click();
  }
  void WmSetFocus() override { Log("focus " + Name); }
  void WmKillFocus() override { Log("unfocus " + Name); }
  void Paint() override {
    ++Paints;
    if (Fill != ui::clNone) {
      Canvas().Brush.Color = Fill;
      Canvas().FillRect(ClientRect());
    }
    if (DuringPaint) DuringPaint();
  }

 private:
  void Log(std::string s) {
    if (mLog) mLog->push_back(std::move(s));
  }
  std::vector<std::string>* mLog;
};

// A form of 200 x 100 client pixels, shown, with a log.
struct FormFixture {
  std::vector<std::string> log;  // outlives the session: stopping may still log
  ui::test::Session session;
  ui::TForm* form = nullptr;
  FormFixture() {
    form = ui::Create<ui::TForm>(ui::Application);
    form->SetClientSize(200, 100);
  }
};

}  // namespace uitest
