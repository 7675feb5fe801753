#include "app/cli/PortRun.h"

#include <unistd.h>

#include <streambuf>

#include "app/cli/Commands.h"
#include "platform/Files.h"

namespace tarvex::cli {
namespace {

// An output stream whose every line goes to a LineOutput, prefixed with the port.
class PrefixedLines final : public std::streambuf {
  public:
    PrefixedLines(LineOutput* out, std::string prefix) : out_(out), prefix_(std::move(prefix)) {}

  protected:
    int_type overflow(int_type ch) override {
        if (ch == traits_type::eof()) {
            return traits_type::not_eof(ch);
        }
        if (ch == '\n') {
            const std::string line = prefix_ + pending_;
            pending_.clear();
            if (out_ != nullptr) {
                out_->Write(line);
            } else {
                (void)platform::WriteAll(STDERR_FILENO, line + "\n");
            }
        } else {
            pending_.push_back(static_cast<char>(ch));
        }
        return ch;
    }

  private:
    LineOutput* out_;
    std::string prefix_;
    std::string pending_;
};

class PrefixedStream final : public std::ostream {
  public:
    PrefixedStream(LineOutput* lines, std::string prefix)
        : std::ostream(nullptr), buffer_(lines, std::move(prefix)) {
        rdbuf(&buffer_);
    }

  private:
    PrefixedLines buffer_;
};

}  // namespace

int ExitStatusFor(const CTarvexDlg& form) {
    switch (form.LastDownloadOutcome()) {
        case DownloadOutcome::Complete:
            return kExitOk;
        case DownloadOutcome::Refused:
            return kExitRefused;
        case DownloadOutcome::PortFailed:
            return kExitPortFailed;
        case DownloadOutcome::ItemMissing:
            return kExitItemMissing;
        case DownloadOutcome::PanelCode: {
            const int code = form.OutcomePanelCode();
            return code >= 1 && code <= 9 ? kExitPanelCodeBase + code : kExitFailure;
        }
        case DownloadOutcome::Cancelled:
            return kExitCancelled;
        case DownloadOutcome::None:
        case DownloadOutcome::Failed:
            break;
    }
    return kExitFailure;
}

std::uint64_t PlannedDataBytes(const CTarvexDlg& form) {
    std::uint64_t total = 0;
    if (form.m_chkBitmap.GetCheck()) {
        total += form.m_arrBitmapImage.size();
    }
    if (form.m_chkFont.GetCheck()) {
        total += form.m_arrFontImage.size();
    }
    if (form.m_chkRecipe.GetCheck()) {
        for (const std::uint32_t size : form.m_arrRecipeSizes) {
            total += size;
        }
    }
    if (form.m_chkApplication.GetCheck()) {
        total += form.m_arrAppImage.size();
    }
    return total;
}

void LineOutput::Write(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (before_) {
        before_();
    }
    (void)platform::WriteAll(fd_, line + "\n");
}

void LineOutput::SetBeforeWrite(std::function<void()> hook) {
    const std::lock_guard<std::mutex> lock(mutex_);
    before_ = std::move(hook);
}

// The port's message interface: lines on the shared message output, and every message also
// to the JSON progress and the record.
class PortRun::Ui final : public CliUserInterface {
  public:
    Ui(std::ostream& err, PortRun& run) : CliUserInterface(err), run_(run) {}

    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override {
        CliUserInterface::ShowMessage(kind, caption, text);
        if (run_.json_) {
            run_.json_->Message(kind, caption, text);
        }
    }

  private:
    PortRun& run_;
};

// Keeps the port's status for the display.
class PortRun::StatusListener final : public ITransferProgress {
  public:
    explicit StatusListener(PortRun& run) : run_(run) {}

    void Begin() {
        start_ = std::chrono::steady_clock::now();
        doneBefore_ = 0;
        itemDone_ = 0;
        planned_ = false;
    }
    void OnItemStarted(const TransferItem& item) override {
        doneBefore_ += itemDone_;
        itemDone_ = 0;
        const std::lock_guard<std::mutex> lock(run_.statusMutex_);
        if (!planned_) {
            run_.statusCopy_.bytesPlanned = PlannedDataBytes(*run_.form_);
            planned_ = true;
        }
        run_.statusCopy_.item = std::string(TransferItemLabel(item.kind));
        if (!item.name.empty()) {
            run_.statusCopy_.item += " " + std::string(item.name);
        }
    }
    void OnPacketSent(std::uint32_t, std::uint64_t bytesDone) override {
        itemDone_ = bytesDone;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const std::lock_guard<std::mutex> lock(run_.statusMutex_);
        run_.statusCopy_.bytesDone = doneBefore_ + itemDone_;
        run_.statusCopy_.bytesPerSecond =
            seconds > 0 ? static_cast<double>(run_.statusCopy_.bytesDone) / seconds : 0;
    }
    std::uint64_t BytesDone() const { return doneBefore_ + itemDone_; }

  private:
    PortRun& run_;
    std::chrono::steady_clock::time_point start_{};
    std::uint64_t doneBefore_ = 0;
    std::uint64_t itemDone_ = 0;
    bool planned_ = false;
};

PortRun::PortRun(RunShared& shared, std::string port)
    : shared_(shared),
      port_(std::move(port)),
      errStream_(std::make_unique<PrefixedStream>(shared.messages, port_ + ": ")),
      ui_(std::make_unique<Ui>(*errStream_, *this)),
      status_(std::make_unique<StatusListener>(*this)) {
    if (shared_.json != nullptr) {
        json_.emplace(*shared_.json, port_);
    }
    fanOut_.Add(status_.get());
    fanOut_.Add(json_ ? &*json_ : nullptr);
    fanOut_.Add(&collected_);
}

PortRun::~PortRun() = default;

int PortRun::Prepare(std::string& why) {
    const std::lock_guard<std::mutex> lock(shared_.startMutex);
    FormEnvironment env = FormEnvironmentFor(shared_.form);
    env.containers = shared_.containers;
    RunShared& shared = shared_;
    env.maySaveSettings = [&shared] { return !shared.settingsWritten.exchange(true); };
    form_ = std::make_unique<CTarvexDlg>(info_, *ui_, std::move(env));
    form_->OnInitDialog();
    FormOptions options = shared_.form;
    options.port = port_;
    // A port that is not there yet (a station waiting for its panel) or does not open is the
    // download's business: it reports it then.
    options.onUnopenablePort = [](const std::string&) {};
    try {
        if (ApplyFormOptions(*form_, *ui_, options) == FormOptionsResult::Refused) {
            return kExitRefused;
        }
    } catch (const UsageError& e) {
        why = e.what();
        return kExitUsage;
    }
    return 0;
}

PortResult PortRun::Download() {
    PortResult result;
    result.port = port_;
    const auto started = std::chrono::system_clock::now();
    const auto steadyStart = std::chrono::steady_clock::now();
    collected_.Reset();
    status_->Begin();
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        statusCopy_.state = "downloading";
        statusCopy_.item.clear();
        statusCopy_.bytesDone = 0;
        statusCopy_.bytesPlanned = 0;
        statusCopy_.bytesPerSecond = 0;
    }
    const std::size_t messagesBefore = ui_->Messages().size();
    if (json_) {
        json_->Start(*form_);
    }
    CTarvexDlg& form = *form_;
    RunShared& shared = shared_;
    ui_->SetPumpHook([&form, &shared] {
        if (shared.cancel.load() && form.DownloadRunning()) {
            form.UserClick(form.m_btnCancel);
        }
    });
    form.SetProgressListener(&fanOut_);
    const bool pressed = form.UserClick(form.m_btnDownload);
    form.SetProgressListener(nullptr);
    ui_->SetPumpHook({});

    result.exitStatus = pressed ? ExitStatusFor(form) : kExitFailure;
    if (shared_.cancel.load() &&
        (result.exitStatus == kExitOk || result.exitStatus == kExitFailure)) {
        result.exitStatus = kExitCancelled;  // interrupted: neither a clean download nor a fault
    }
    result.outcome = pressed ? form.LastDownloadOutcome() : DownloadOutcome::Failed;
    result.panelCode = result.outcome == DownloadOutcome::PanelCode ? form.OutcomePanelCode() : 0;
    const auto& messages = ui_->Messages();
    if (messages.size() > messagesBefore) {
        result.message = messages.back().caption + ": " + messages.back().text;
    } else if (!pressed) {
        result.message = "the Download button cannot be pressed";
    }
    result.bytes = status_->BytesDone();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - steadyStart).count();
    const std::optional<PortInfo> adapter = DescribeDevice(
        form.Environment().probe,
        form.SerialPort().DevicePath().empty() ? port_ : form.SerialPort().DevicePath());
    if (adapter) {
        result.serialNumber = adapter->serialNumber;
    }
    if (json_) {
        json_->Result(result.outcome, result.exitStatus, result.panelCode, result.message);
    }
    if (shared_.report != nullptr) {
        DownloadEnd end{port_,          started,           std::chrono::system_clock::now(),
                        result.outcome, result.exitStatus, result.panelCode,
                        result.message};
        std::string error;
        if (!shared_.report->Append(form, collected_, end, adapter, error)) {
            *errStream_ << "tarvex-cli: --report: cannot append to " << shared_.report->Path()
                        << ": " << error << '\n';
            if (result.exitStatus == kExitOk) {
                result.exitStatus = kExitFailure;  // a unit without its record is no pass
            }
        }
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        statusCopy_.state = result.exitStatus == kExitOk ? "passed" : "failed";
    }
    return result;
}

PortStatus PortRun::Status() const {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    return statusCopy_;
}

void PortRun::SetState(const std::string& state) {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    statusCopy_.state = state;
}

void PortRun::Count(bool passed) {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    ++(passed ? statusCopy_.passed : statusCopy_.failed);
}

}  // namespace tarvex::cli
