#include "ui/Controls.h"

#include <algorithm>

#include "platform/Text.h"

namespace tarvex {

void Control::EnableWindow(bool enable) {
    if (enabled_ != enable) {
        enabled_ = enable;
        NotifyChanged();
    }
}

void Control::ShowWindow(bool show) {
    if (visible_ != show) {
        visible_ = show;
        NotifyChanged();
    }
}

void Control::NotifyChanged() const {
    if (listener_) {
        listener_(*this);
    }
}

void ComboBox::ResetContent() {
    entries_.clear();
    current_ = -1;
    NotifyChanged();
}

int ComboBox::AddString(std::string text) {
    entries_.push_back(std::move(text));
    NotifyChanged();
    return GetCount() - 1;
}

std::string ComboBox::GetLBText(int index) const {
    if (index < 0 || index >= GetCount()) {
        return {};
    }
    return entries_[static_cast<std::size_t>(index)];
}

void ComboBox::SetCurSel(int index) {
    const int next = (index >= 0 && index < GetCount()) ? index : -1;
    if (next != current_) {
        current_ = next;
        NotifyChanged();
    }
}

int ComboBox::FindStringExact(std::string_view text) const {
    for (int i = 1; i < GetCount(); ++i) {
        if (EqualsIgnoringCase(entries_[static_cast<std::size_t>(i)], text)) {
            return i;
        }
    }
    if (!entries_.empty() && EqualsIgnoringCase(entries_.front(), text)) {
        return 0;
    }
    return -1;
}

void CheckBox::SetCheck(bool checked) {
    if (checked_ != checked) {
        checked_ = checked;
        NotifyChanged();
    }
}

void EditField::SetWindowText(std::string text) {
    if (text_ != text) {
        text_ = std::move(text);
        NotifyChanged();
    }
}

void ProgressBar::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    position_ = std::clamp(position_, std::min(lower_, upper_), std::max(lower_, upper_));
    NotifyChanged();
}

void ProgressBar::SetStep(int step) {
    step_ = step;
}

int ProgressBar::StepIt() {
    const int previous = position_;
    position_ = std::clamp(position_ + step_, std::min(lower_, upper_), std::max(lower_, upper_));
    NotifyChanged();
    return previous;
}

void ProgressBar::SetPos(int position) {
    position_ = std::clamp(position, std::min(lower_, upper_), std::max(lower_, upper_));
    NotifyChanged();
}

}  // namespace tarvex
