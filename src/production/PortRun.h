// One form on one port, for the lines that run several ports in one process (gang, station).
//
// Every port gets its own form (CTarvexDlg), its own message interface and its own thread.
// What the ports share is given to each of them in RunShared: the form's environment and how
// to fill the form in, the checked container (read once, held once), the one permission to
// write the settings file, the event stream and the cancel request. A port's thread only ever
// touches its own form; what it has to tell goes out as events.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/SharedContainer.h"
#include "platform/UserInterface.h"
#include "production/DownloadEnd.h"
#include "production/LineEvents.h"
#include "production/UnitEvents.h"
#include "production/UnitIds.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

// A port's message interface: every message box is recorded and goes out as a message event;
// a question gets its default answer, told as a note; the open-file dialog gives the path
// named in advance, once.
class PortUserInterface final : public IUserInterface {
  public:
    explicit PortUserInterface(UnitEvents& events) : events_(events) {}

    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override;
    bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) override;
    std::optional<std::string> AskOpenFile(std::string_view filter,
                                           std::string_view initialDir) override;
    void PumpEvents() override;
    void Idle() override;

    void SetOpenFileAnswer(std::string path) { openFileAnswer_ = std::move(path); }
    void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
    // "Caption: text" of every message shown so far.
    const std::vector<std::string>& Messages() const { return messages_; }

  private:
    UnitEvents& events_;
    std::vector<std::string> messages_;
    std::optional<std::string> openFileAnswer_;
    std::function<void()> pumpHook_;
};

// Fills a started form in for `port`: 0, or the exit status that ends the port (2 usage
// error, with `why`; 3 refused, the form having said why).
using FormFiller = std::function<int(CTarvexDlg& form, PortUserInterface& ui,
                                     const std::string& port, std::string& why)>;

struct RunShared {
    FormEnvironment environment;  // the cache and the settings permission are set per run
    FormFiller fill;
    std::shared_ptr<ContainerCache> containers = std::make_shared<ContainerCache>();
    EventStream events;
    std::atomic<bool> cancel{false};
    std::atomic<bool> stop{false};  // a station ends the units in progress and starts no more
    std::atomic<bool> settingsWritten{false};
    int retries = 0;             // see LineOptions
    UnitIds* unitIds = nullptr;  // none: the line numbers no units
};

class PortRun {
  public:
    PortRun(RunShared& shared, std::string port);
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;
    ~PortRun();

    const std::string& Port() const { return port_; }
    // Starts the form and fills it in. 0, or the exit status that ends this port.
    int Prepare(std::string& why);
    // Presses Download and waits for its end; tells the transfer as events meanwhile.
    UnitResult Download(const UnitTag& unit = {});

    // What the port waits for now, and its device coming and going, as events.
    void SetState(const std::string& state) { events_.State(state); }
    void Appeared() { events_.Appeared(); }
    void Left() { events_.Left(); }
    // A line of the line's own about this port (a retry, a unit id taken or refused).
    void Note(std::string text) { events_.Note(std::move(text)); }

  private:
    RunShared& shared_;
    std::string port_;
    UnitEvents events_;
    PortUserInterface ui_;
    CDownloadInfo info_;
    std::unique_ptr<CTarvexDlg> form_;
};

}  // namespace tarvex::production
