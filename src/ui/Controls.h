// Toolkit-free models of the form's controls.
//
// Each control holds what a window would show: caption or text, enabled and visible state, and
// for lists their entries and current position. A view (the Qt dialog) mirrors a model by
// listening to it; the form changes models from code and, when the user acts, the view calls
// the form's handler. Changing a model from code never calls a handler of the form: a list's
// current entry set from code raises no selection-change notification, as on the desktop
// toolkits the form was designed for. Listeners only hear that the display must be refreshed.
//
//   Control      id, caption, enabled, visible, change listener
//   ComboBox     drop-down list the user cannot type into: entries, current position
//   CheckBox     checked or not
//   RadioButton  checked or not (the form keeps the group consistent)
//   EditField    text; optionally hidden characters (password)
//   Button       push button
//   ProgressBar  range, step, position
//   Label        static text
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

class Control {
  public:
    using Listener = std::function<void(const Control&)>;

    Control(int id, std::string caption) : id_(id), caption_(std::move(caption)) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    int Id() const { return id_; }
    const std::string& Caption() const { return caption_; }

    bool IsEnabled() const { return enabled_; }
    void EnableWindow(bool enable);
    bool IsVisible() const { return visible_; }
    void ShowWindow(bool show);

    // One listener per control: the view that mirrors it.
    void SetListener(Listener listener) { listener_ = std::move(listener); }

  protected:
    void NotifyChanged() const;

  private:
    int id_;
    std::string caption_;
    bool enabled_ = true;
    bool visible_ = true;
    Listener listener_;
};

class ComboBox : public Control {
  public:
    using Control::Control;

    void ResetContent();
    int AddString(std::string text);  // returns the new entry's position
    int GetCount() const { return static_cast<int>(entries_.size()); }
    const std::vector<std::string>& Entries() const { return entries_; }
    std::string GetLBText(int index) const;  // empty for a position out of range

    int GetCurSel() const { return current_; }  // -1: no current entry
    // Makes an entry current (-1 for none); out-of-range positions give none. No handler runs.
    void SetCurSel(int index);
    // Text of the current entry; empty when there is none.
    std::string GetWindowText() const { return GetLBText(current_); }

    // Search rule of the form's lists: the first entry from position 1 to the end whose whole
    // text equals `text` without regard to letter case, else entry 0 if it matches; -1 if none.
    int FindStringExact(std::string_view text) const;

  private:
    std::vector<std::string> entries_;
    int current_ = -1;
};

class CheckBox : public Control {
  public:
    using Control::Control;
    bool GetCheck() const { return checked_; }
    void SetCheck(bool checked);

  private:
    bool checked_ = false;
};

class RadioButton : public CheckBox {
  public:
    using CheckBox::CheckBox;
};

class EditField : public Control {
  public:
    EditField(int id, std::string caption, bool hideCharacters = false)
        : Control(id, std::move(caption)), hidden_(hideCharacters) {}
    const std::string& GetWindowText() const { return text_; }
    void SetWindowText(std::string text);
    bool HidesCharacters() const { return hidden_; }

  private:
    std::string text_;
    bool hidden_;
};

class Button : public Control {
  public:
    using Control::Control;
};

class Label : public Control {
  public:
    using Control::Control;
};

class ProgressBar : public Control {
  public:
    using Control::Control;
    void SetRange(int lower, int upper);
    void SetStep(int step);
    int StepIt();  // moves one step, stopping at the upper bound; returns the previous position
    void SetPos(int position);
    int GetPos() const { return position_; }
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }

  private:
    int lower_ = 0;
    int upper_ = 100;
    int step_ = 10;
    int position_ = 0;
};

}  // namespace tarvex
