#include "production/PortRun.h"

#include "production/ExitStatus.h"

namespace tarvex::production {

void PortUserInterface::ShowMessage(MessageKind kind, std::string_view caption,
                                    std::string_view text) {
    messages_.push_back(std::string(caption) + ": " + std::string(text));
    events_.Message(kind, caption, text);
}

bool PortUserInterface::AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) {
    events_.Note(std::string(caption) + ": " + std::string(text) + (defaultYes ? " Yes" : " No"));
    return defaultYes;
}

std::optional<std::string> PortUserInterface::AskOpenFile(std::string_view, std::string_view) {
    std::optional<std::string> answer = std::move(openFileAnswer_);
    openFileAnswer_.reset();
    return answer;
}

void PortUserInterface::PumpEvents() {
    if (pumpHook_) {
        pumpHook_();
    }
}

void PortUserInterface::Idle() {
    if (pumpHook_) {
        pumpHook_();
    }
}

PortRun::PortRun(RunShared& shared, std::string port)
    : shared_(shared), port_(std::move(port)), events_(shared.events, port_), ui_(events_) {}

PortRun::~PortRun() = default;

int PortRun::Prepare(std::string& why) {
    FormEnvironment env = shared_.environment;
    env.containers = shared_.containers;
    RunShared& shared = shared_;
    env.maySaveSettings = [&shared] { return !shared.settingsWritten.exchange(true); };
    form_ = std::make_unique<CTarvexDlg>(info_, ui_, std::move(env));
    form_->OnInitDialog();
    CTarvexDlg& form = *form_;
    events_.SetPlanner([&form] { return PlannedDataBytes(form); });
    return shared_.fill ? shared_.fill(form, ui_, port_, why) : 0;
}

UnitResult PortRun::Download(const UnitTag& unit) {
    CTarvexDlg& form = *form_;
    DownloadEnding end;
    end.started = std::chrono::system_clock::now();
    end.line = DescribeLine(form);
    end.recordPort = port_;
    end.describeAdapter = true;
    const std::size_t messagesBefore = ui_.Messages().size();
    events_.Start(form, unit);
    RunShared& shared = shared_;
    ui_.SetPumpHook([&form, &shared] {
        if (shared.cancel.load() && form.DownloadRunning()) {
            form.UserClick(form.m_btnCancel);
        }
    });
    std::uint64_t repliesRead = 0;
    form.SetFrameObserver([&repliesRead](bool written, std::span<const std::uint8_t>) {
        repliesRead += written ? 0 : 1;
    });
    form.SetProgressListener(&events_);
    end.pressed = form.UserClick(form.m_btnDownload);
    form.SetProgressListener(nullptr);
    form.SetFrameObserver({});
    ui_.SetPumpHook({});

    end.interrupted = shared_.cancel.load();
    end.repliesRead = repliesRead;
    if (ui_.Messages().size() > messagesBefore) {
        end.lastMessage = ui_.Messages().back();
    }
    return FinishDownload(form, events_, end);
}

}  // namespace tarvex::production
