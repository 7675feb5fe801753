// tarvex-cli job create FILE / job show FILE, and --job for gang and station. A job is made by
// filling the form in as download does and reading back what the form then holds: a choice the
// engineer left to the settings file is pinned too, so that the line runs what was seen.
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/cli/Commands.h"
#include "app/cli/commands/JobOptions.h"
#include "app/cli/console/CliUserInterface.h"
#include "download/DownloadContainer.h"
#include "download/Sha256.h"
#include "platform/Files.h"
#include "production/JobForm.h"

namespace tarvex::cli {
namespace {

using production::Job;

struct JobCreateOptions {
    std::string file;
    std::optional<std::string> name;
    FormOptions form;
    std::vector<std::string> ports;
    std::optional<std::string> report;
    std::optional<int> retries;
    std::optional<std::string> unitIdFrom;
    bool allowRepeat = false;
    bool force = false;
};

std::string Absolute(const std::string& path) {
    return platform::IsAbsolutePath(path) ? path
                                          : platform::JoinPath(platform::CurrentDirectory(), path);
}

int RunJobCreate(const JobCreateOptions& o) {
    if (!o.force && std::filesystem::exists(o.file)) {
        throw UsageError("job create: " + o.file +
                         " exists; a job is not replaced by mistake (--force replaces it)");
    }
    CliUserInterface ui(std::cerr);
    CDownloadInfo info;
    CTarvexDlg form(info, ui, FormEnvironmentFor(o.form));
    form.OnInitDialog();
    if (ApplyFormOptions(form, ui, o.form) == FormOptionsResult::Refused) {
        return kExitRefused;
    }

    Job job;
    job.name = o.name ? *o.name : std::filesystem::path(o.file).stem().string();
    if (job.name.empty()) {
        throw UsageError("job create: --name: a job needs a name");
    }
    job.workspace = platform::CurrentDirectory();
    production::JobFromForm(form, job);
    if (job.product.empty() || form.m_cmbProduct.GetCurSel() <= 0) {
        throw UsageError("job create: no product is chosen (--product)");
    }
    if (job.container.empty()) {
        throw UsageError("job create: no container is chosen (--file)");
    }
    {
        CDownloadInfo checked;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        if (!CheckDownloadContainer(job.container, checked, names, sizes)) {
            std::cerr << "tarvex-cli: job create: " << job.container
                      << " is no valid download container: no job is made for it\n";
            return kExitRefused;
        }
    }
    const std::optional<std::string> digest = Sha256OfFile(job.container);
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(job.container, ec);
    if (!digest || ec) {
        std::cerr << "tarvex-cli: job create: cannot read " << job.container << '\n';
        return kExitRefused;
    }
    job.containerSha256 = *digest;
    job.containerSize = size;
    job.ports = o.ports;
    if (o.report) {
        job.report = Absolute(*o.report);
    }
    job.retries = o.retries;
    job.unitIdFrom = o.unitIdFrom;
    if (o.allowRepeat) {
        job.allowRepeat = true;
    }
    if (std::string error; !production::WriteJob(o.file, job, error)) {
        std::cerr << "tarvex-cli: job create: " << error << '\n';
        return kExitFailure;
    }
    std::cout << "Job \"" << job.name << "\" written to " << o.file << ": " << job.product << ", "
              << job.bootloader << ", " << job.firmware << ", " << job.container << " (SHA-256 "
              << job.containerSha256 << ")\n";
    return kExitOk;
}

int RunJobShow(const std::string& file) {
    Job job;
    if (std::string error; !production::ReadJob(file, job, error)) {
        throw UsageError("job show: " + error);
    }
    std::cout << production::JobToJson(job).dump(2) << '\n';
    if (const std::string change = production::ContainerChange(job); !change.empty()) {
        std::cerr << "tarvex-cli: " << change << '\n';
        return kExitRefused;
    }
    return kExitOk;
}

// The options whose value is part of what a panel gets.
constexpr const char* kSentOptions[] = {
    "--product", "--bootloader", "--firmware",  "--usb",       "--serial", "--file",  "--slave-id",
    "--baud",    "--parity",     "--data-bits", "--stop-bits", "--echo",   "--rs485", "--items"};

bool Given(const CLI::App& cmd, const char* name) {
    const CLI::Option* option = cmd.get_option_no_throw(name);
    return option != nullptr && option->count() > 0;
}

std::string Listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

}  // namespace

void AddJobOption(CLI::App& cmd, MultiPortOptions& o) {
    cmd.add_option("--job", o.job,
                   "Run the job FILE (made with tarvex-cli job create) exactly as it stands: its "
                   "workspace, form, container (checked against its SHA-256), ports and report; "
                   "also its retries and unit ids, unless --retries, --unit-id-from or "
                   "--allow-repeat is given")
        ->type_name("FILE")
        ->group("Job");
}

int TakeJob(const CLI::App& cmd, MultiPortOptions& o) {
    if (!o.job) {
        return kExitOk;
    }
    Job job;
    if (std::string error; !production::ReadJob(*o.job, job, error)) {
        throw UsageError("--job: " + error);
    }
    std::vector<std::string> changing;
    for (const char* name : kSentOptions) {
        if (Given(cmd, name)) {
            changing.emplace_back(name);
        }
    }
    if (!changing.empty()) {
        throw UsageError("--job: " + Listed(changing) + " would change what is sent; the job \"" +
                         job.name + "\" fixes it (make a new job with tarvex-cli job create)");
    }
    std::vector<std::string> fixed;
    if (!job.ports.empty()) {
        for (const char* name : {"--port", "--ports-from", "--all-usb"}) {
            if (Given(cmd, name)) {
                fixed.emplace_back(name);
            }
        }
    }
    if (job.report && Given(cmd, "--report")) {
        fixed.emplace_back("--report");
    }
    if (!fixed.empty()) {
        throw UsageError("--job: " + Listed(fixed) + ": the job \"" + job.name +
                         "\" names its own (make a new job with tarvex-cli job create)");
    }

    if (std::string why; !platform::ChangeCurrentDirectory(job.workspace, why)) {
        throw UsageError("--job: cannot work in the job's workspace " + job.workspace + ": " + why);
    }
    if (const std::string change = production::ContainerChange(job); !change.empty()) {
        std::cerr << "tarvex-cli: " << change << '\n';
        return kExitRefused;
    }

    FormOptions& f = o.form;
    const auto set = [](std::optional<std::string>& option, const std::string& value) {
        option = value.empty() ? std::nullopt : std::optional<std::string>(value);
    };
    set(f.product, job.product);
    set(f.bootloader, job.bootloader);
    set(f.firmware, job.firmware);
    f.usb = job.usb;
    f.serial = !job.usb;
    f.file = job.container;
    set(f.slaveId, job.slaveId);
    set(f.baud, job.baud);
    set(f.parity, job.parity);
    set(f.dataBits, job.dataBits);
    set(f.stopBits, job.stopBits);
    set(f.echo, job.echo);
    f.rs485 = job.rs485;
    f.items = production::ItemsText(job.items);
    if (!job.ports.empty()) {
        o.ports = job.ports;
    }
    if (job.report) {
        o.line.report = job.report;
    }
    // Retries and unit ids change nothing that is sent: the command line's own win.
    if (job.retries && !Given(cmd, "--retries")) {
        o.line.retries = *job.retries;
    }
    if (job.unitIdFrom && !Given(cmd, "--unit-id-from")) {
        o.line.unitIdFrom = *job.unitIdFrom;
    }
    if (job.allowRepeat && !Given(cmd, "--allow-repeat")) {
        o.line.allowRepeat = *job.allowRepeat;
    }
    o.jobStamp = production::StampOf(job);
    return kExitOk;
}

void RegisterJobCommand(CLI::App& app, int& exitStatus) {
    auto* job = app.add_subcommand("job", "Make or show a job file: what a production line runs");
    job->require_subcommand(1);

    auto create = std::make_shared<JobCreateOptions>();
    auto* cmd = job->add_subcommand(
        "create", "Fill the form in as download does and write what it holds as a job file");
    cmd->add_option("FILE", create->file, "The job file to write")->required();
    cmd->add_option("--name", create->name, "The job's name (default: FILE without extension)")
        ->group("Job");
    AddFormOptions(*cmd, create->form);
    // The port and the password are not the form's part of a job: the ports are the line's,
    // and a password is never written into a file others may read.
    cmd->remove_option(cmd->get_option("--port"));
    cmd->remove_option(cmd->get_option("--password"));
    cmd->add_option("--port", create->ports,
                    "A port of the line; repeat for every port (for a fixture, a name that "
                    "stays: see tarvex-cli ports)")
        ->type_name("PORT")
        ->group("Line");
    cmd->add_option("--report", create->report, "The report file of the line")
        ->type_name("FILE")
        ->group("Line");
    cmd->add_option("--retries", create->retries,
                    "Try a unit up to N more times after no reply, a lost line or a port that "
                    "could not be opened (as gang --retries)")
        ->check(CLI::Range(0, production::kMaxRetries))
        ->type_name("N")
        ->group("Line");
    cmd->add_option("--unit-id-from", create->unitIdFrom,
                    "Where the units' ids come from: stdin, dashboard or counter:PREFIX:START "
                    "(as gang --unit-id-from)")
        ->type_name("SOURCE")
        ->check([](const std::string& spec) {
            return production::ParseUnitIdFrom(spec)
                       ? std::string()
                       : std::string("SOURCE is stdin, dashboard or counter:PREFIX:START");
        })
        ->group("Line");
    cmd->add_flag("--allow-repeat", create->allowRepeat,
                  "Load a unit whose id has passed before in the report file")
        ->group("Line");
    cmd->add_flag("--force", create->force, "Replace FILE if it exists")->group("Job");
    cmd->footer(
        "The form starts in the workspace, takes the options as download does, and every "
        "choice it then holds is written (also those taken from dnld.sv), with the "
        "container's SHA-256 and size. gang --job and station --job run the job and refuse "
        "to start when the container changed. The line's retries and unit ids are written "
        "too; a job run's --retries, --unit-id-from and --allow-repeat replace them (they change "
        "nothing that is sent). No password is written: give it at run time "
        "(--password-file or TARVEX_PASSWORD).\n\n"
        "Exit status: 0 written, 1 the file could not be written, 2 usage error, 3 the form "
        "refused a choice or the container is not valid.");
    cmd->callback([create, &exitStatus] { exitStatus = RunJobCreate(*create); });

    auto showFile = std::make_shared<std::string>();
    auto* show = job->add_subcommand("show", "Print a job file and check its container");
    show->add_option("FILE", *showFile, "The job file")->required();
    show->footer(
        "Exit status: 0 the job reads and its container is the one pinned, 2 the file is no "
        "job, 3 the container changed since the job was made.");
    show->callback([showFile, &exitStatus] { exitStatus = RunJobShow(*showFile); });
}

}  // namespace tarvex::cli
