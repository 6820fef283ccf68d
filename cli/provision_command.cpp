// provision: every controller on the bench at once, and each new one as it arrives, each read, brought to the
// carried firmware when asked and older, given the profile, and reported in one line (and in the record), until
// Ctrl+C or --count. A worker thread per controller, each with its own device link, session and hold; the main
// thread lists the controllers, reads the one hot-plug monitor and hands each worker the events that concern its
// controller, and says every result, so that lines and record entries are written whole and one at a time.
#include "cli/commands.h"
#include "cli/profile.h"
#include "cli/terminal_text.h"
#include "cli/unit_record.h"
#include "device/carried_firmware.h"
#include "portable/file_io.h"
#include "portable/wait.h"
#include "session/connection_policy.h"
#include "session/stop_request.h"
#include "sim/controller_commands.h"
#include "sim/event_pipe.h"
#include "sim/line_reader.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <streambuf>
#include <thread>

namespace {

// What the run has done so far, for the summary.
struct Tally {
    int ok = 0;
    int failed = 0;
    int interrupted = 0;
    int Done() const { return ok + failed + interrupted; }
};

std::string Plural(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts) {
        all += (all.empty() ? "" : "; ") + p;
    }
    return all;
}

// What is said while several controllers are worked on: the lines of every worker and of the main thread,
// each whole, and the step each unit is at. On a terminal the steps are one line per unit that updates in
// place below what was said; elsewhere each new step is a plain line of its own.
class Board {
public:
    explicit Board(CliIo& io) : io_(io), inPlace_(io.errIsTerminal) {}
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // A whole line (ending in a newline) on standard error.
    void Say(const std::string& line)
    {
        std::lock_guard lock(mutex_);
        Erase();
        io_.err << line << std::flush;
        Draw();
    }
    // A whole line (ending in a newline) on `to`: a result, the summary.
    void Write(std::ostream& to, const std::string& line)
    {
        std::lock_guard lock(mutex_);
        Erase();
        to << line << std::flush;
        Draw();
    }
    // `unit` is at `step`, `percent` done of it (-1: no percent).
    void Step(const std::string& unit, const std::string& step, int percent)
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(units_.begin(), units_.end(), [&](const Shown& s) { return s.unit == unit; });
        if (it == units_.end()) {
            it = units_.insert(units_.end(), Shown{unit, {}, -1});
        }
        const bool newStep = it->step != step;
        if (!newStep && it->percent == percent) {
            return;
        }
        it->step = step;
        it->percent = percent;
        if (inPlace_) {
            Erase();
            Draw();
        } else if (newStep) {
            io_.err << unit << ": " << step << "\n" << std::flush;
        }
    }
    // `unit` has its result: its step line goes.
    void Done(const std::string& unit)
    {
        std::lock_guard lock(mutex_);
        Erase();
        std::erase_if(units_, [&](const Shown& s) { return s.unit == unit; });
        Draw();
    }

private:
    struct Shown {
        std::string unit;
        std::string step;
        int percent;
    };

    void Erase()
    {
        if (drawn_ > 0) {
            io_.err << "\x1b[" << drawn_ << "F\x1b[J";  // up to the first step line, and clear to the end
            drawn_ = 0;
        }
    }
    void Draw()
    {
        if (!inPlace_ || units_.empty()) {
            return;
        }
        const std::size_t columns = static_cast<std::size_t>(std::max(TerminalColumns(io_.errFd) - 1, 10));
        for (const Shown& s : units_) {
            std::string line = s.unit + ": " + s.step;
            if (s.percent >= 0) {
                line += ' ';
                line += std::to_string(s.percent);
                line += " %";
            }
            if (line.size() > columns) {
                line.resize(columns);
            }
            io_.err << line << "\n";
        }
        io_.err << std::flush;
        drawn_ = static_cast<int>(units_.size());
    }

    std::mutex mutex_;
    CliIo& io_;
    const bool inPlace_;
    std::vector<Shown> units_;  // in the order they started
    int drawn_ = 0;             // step lines on the terminal now
};

// A worker's standard error: each whole line goes to the board after the unit's path.
class UnitLines : public std::streambuf {
public:
    UnitLines(Board& board, std::string prefix) : board_(board), prefix_(std::move(prefix)) {}
    ~UnitLines() override
    {
        if (!pending_.empty()) {
            board_.Say(prefix_ + pending_ + "\n");
        }
    }
    UnitLines(const UnitLines&) = delete;
    UnitLines& operator=(const UnitLines&) = delete;

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof()) {
            return 0;
        }
        pending_.push_back(static_cast<char>(c));
        if (c == '\n') {
            board_.Say(prefix_ + pending_);
            pending_.clear();
        }
        return c;
    }

private:
    Board& board_;
    const std::string prefix_;
    std::string pending_;
};

// One controller at work on a thread of its own.
struct Worker {
    std::string path;       // where it was found
    std::string location;   // where it is plugged in (the USB port), where the platform knows it
    bool settle = false;    // it arrived just now: it gets its settle time first
    sim::EventPipe events;  // the plugs and pull-outs that concern it, handed on by the main thread
    std::thread thread;
    std::atomic<bool> finished{false};
    std::optional<UnitResult> result;  // nothing when a stop came before anything was said to it
    std::string otherController;       // another controller that came back in its place, if one did
};

class Provisioner {
public:
    Provisioner(CliRun& run, const CommandArgs& args, const ProfileContents& profile, UnitLog* log, StopRequest& stop,
                HotplugMonitor& monitor, std::string only)
        : run_(run),
          args_(args),
          profile_(profile),
          log_(log),
          stop_(stop),
          monitor_(monitor),
          only_(std::move(only)),
          count_(args.count > 0 ? args.count
                 : args.once    ? 1
                                : 0),
          jobs_(args.jobs),
          board_(run.io)
    {
        if (sim::VirtualController* vc = run.Backend().Controller(); vc && run.io.inFd >= 0) {
            commands_.emplace(*vc);
            input_.emplace(run.io.inFd);
            reading_ = true;
            commandLines_.emplace(
                [this](const std::string& line) {
                    if (auto error = commands_->Apply(line)) {
                        board_.Say("doorphonectl: " + *error + "\n");
                    }
                },
                [this] { board_.Say("doorphonectl: a command line is too long; it is ignored\n"); });
        }
    }

    ~Provisioner()
    {
        // Run returns only once every worker is done; this is for a throw on the way.
        if (!workers_.empty()) {
            stop_.Request();
            for (const std::unique_ptr<Worker>& w : workers_) {
                w->thread.join();
            }
        }
    }

    // Until a stop, --count, or a record that cannot be written, and every worker is done. The exit code.
    int Run()
    {
        if (reading_) {
            board_.Say("Virtual controllers: type next [VERSION] to put a new one in place of the current one, "
                       "attach [VERSION] to add one beside it, unplug to pull it out.\n");
        }
        // The controllers on the bench at the start count as plugged in just now, but have settled already.
        for (const HidDeviceInfo& info : Candidates()) {
            units_.Settled(info.path);
        }
        bool said = false;
        while (true) {
            Collect(said);
            const bool ending = stop_.Requested() || ended_ || CountReached();
            if (ending && workers_.empty()) {
                break;
            }
            if (!ending) {
                for (const HidDeviceInfo& info : Candidates()) {
                    if ((jobs_ > 0 && static_cast<int>(workers_.size()) >= jobs_) ||
                        (count_ > 0 && tally_.Done() + static_cast<int>(workers_.size()) >= count_)) {
                        break;
                    }
                    Start(info);
                    said = false;
                }
            }
            if (workers_.empty() && !ending) {
                if (!said) {
                    board_.Say(std::string("Waiting for a controller") + (only_.empty() ? "" : " at " + only_) +
                               " (Ctrl+C ends).\n");
                    said = true;
                }
                if (run_.hooks.waiting) {
                    run_.hooks.waiting(tally_.Done());
                }
            }
            Wait();
        }
        Summary();
        if (ended_ || tally_.failed || tally_.interrupted || (count_ > 0 && tally_.Done() < count_)) {
            return kExitDevice;
        }
        return kExitDone;
    }

private:
    bool CountReached() const { return count_ > 0 && tally_.Done() >= count_; }

    // Whether a worker has the controller `info` in hand: found there, or plugged in where it works.
    bool Owned(const HidDeviceInfo& info) const
    {
        return std::any_of(workers_.begin(), workers_.end(), [&](const std::unique_ptr<Worker>& w) {
            return w->path == info.path || (!w->location.empty() && w->location == info.location);
        });
    }

    // Controllers present that this run has not provisioned since they were plugged in and that no worker has
    // in hand, in the platform's order.
    std::vector<HidDeviceInfo> Candidates()
    {
        return units_.NewUnits(
            [&](const HidDeviceInfo& info) { return (!only_.empty() && info.path != only_) || Owned(info); });
    }

    void Start(const HidDeviceInfo& info)
    {
        auto worker = std::make_unique<Worker>();
        worker->path = info.path;
        worker->location = info.location;
        worker->settle = !units_.IsSettled(info.path);
        units_.Settled(info.path);
        Worker& w = *worker;
        workers_.push_back(std::move(worker));
        w.thread = std::thread([this, &w] { Work(w); });
    }

    // Until a plug or pull-out, a worker done, a stop, or (on the virtual bench) a command for it.
    void Wait()
    {
        if (stop_.Requested() && workers_.empty()) {
            return;  // nothing left to wait for
        }
        // Once a stop is requested its handle stays ready: the workers' ends are what is waited for then.
        const portable::WaitHandle handles[] = {
            monitor_.Waitable(), stop_.Requested() ? portable::kNoWaitHandle : stop_.Waitable(),
            // the bench's commands while no unit is at work, as
            // one that comes mid-way would pull the unit out under it
            reading_ && workers_.empty() ? input_->Handle() : portable::kNoWaitHandle, workerDone_.Handle()};
        const int ready = portable::WaitForAny(handles, -1);
        if (ready == 0) {
            Dispatch(monitor_.ReadEvents());
        }
        if (ready == 2) {
            bool ended = false;
            const std::string text = input_->Read(ended);
            commandLines_->Feed(text);
            if (ended) {
                commandLines_->Finish();
                reading_ = false;  // the input ended; the bench stays as it is
            }
        }
        if (ready == 3) {
            workerDone_.Clear();  // the finished ones are collected next
        }
    }

    // Each event to the workers it concerns. A pull-out goes to every worker (each knows the path it has
    // open). A controller that arrives goes to the worker at work where it is plugged in, so that units
    // restarting at the same time each see their own return; one that arrives elsewhere goes to a worker
    // alone at work, which tells it from its own controller, as a run of one unit would.
    void Dispatch(const std::vector<HotplugEvent>& events)
    {
        std::optional<std::vector<HidDeviceInfo>> listed;
        for (const HotplugEvent& event : events) {
            if (event.action == HotplugAction::Remove) {
                // A node pulled out may come back at once with the next controller on it (the kernel reuses
                // the lowest free minor): it is a new unit even though the list shows the same path.
                units_.Removed(event.devicePath);
            }
            if (event.action != HotplugAction::Add) {
                for (const std::unique_ptr<Worker>& w : workers_) {
                    w->events.Push(event);
                }
                continue;
            }
            if (!listed) {
                listed = run_.Session().Controllers();
            }
            auto info = std::find_if(listed->begin(), listed->end(),
                                     [&](const HidDeviceInfo& i) { return i.path == event.devicePath; });
            bool given = false;
            for (const std::unique_ptr<Worker>& w : workers_) {
                if (info != listed->end() && !w->location.empty() && w->location == info->location) {
                    w->events.Push(event);
                    given = true;
                }
            }
            if (!given) {
                for (const std::unique_ptr<Worker>& w : workers_) {
                    if (workers_.size() == 1 || w->location.empty()) {
                        w->events.Push(event);
                    }
                }
            }
        }
    }

    // Says the result of every worker that is done.
    void Collect(bool& said)
    {
        for (auto it = workers_.begin(); it != workers_.end();) {
            Worker& w = **it;
            if (!w.finished.load()) {
                ++it;
                continue;
            }
            w.thread.join();
            board_.Done(w.path);
            if (w.result) {
                units_.Handled(w.path);
                units_.Handled(w.result->path);  // it may have come back on another node
                units_.Settled(w.result->path);
                if (!w.otherController.empty()) {
                    units_.Settled(w.otherController);  // untouched, it is a unit of its own
                }
                Report(*w.result);
                if (!ended_ && !stop_.Requested() && !CountReached()) {
                    board_.Say("Pull out " + w.result->path + "; plug in the next controller (Ctrl+C ends).\n");
                    said = true;
                }
            }
            it = workers_.erase(it);
        }
    }

    // One controller, on its worker's thread.
    void Work(Worker& w)
    {
        {
            UnitLines lines(board_, w.path + ": ");
            std::ostream err(&lines);
            std::ostream out(nullptr);  // a unit's result is said by the main thread
            std::istringstream in;
            CliIo io{in, out, err};
            CliRun unit(run_, io, w.path);
            unit.SayFailures(false);
            unit.onStep = [&](const std::string& step, int percent) { board_.Step(w.path, step, percent); };
            if (!w.settle || ControllerSession::Pause(run_.hooks.settle, &stop_)) {
                w.result = Provision(unit, w);
            }
        }
        w.finished.store(true);
        workerDone_.Raise();
    }

    UnitResult Provision(CliRun& run, Worker& w)
    {
        UnitResult unit;
        unit.path = w.path;
        auto failed = [&](UnitResult::Outcome outcome, const std::string& reason) {
            unit.outcome = outcome;
            unit.reason = reason;
            return unit;
        };
        board_.Step(w.path, "reading", -1);
        run.UseDevice(w.path);
        SettingsSnapshot held;
        if (!run.Connect() || !run.Read(held)) {
            return failed(UnitResult::Outcome::Failed, run.LastFailure());
        }
        unit.before = unit.after = held.Firmware();
        if (stop_.Requested()) {
            return failed(UnitResult::Outcome::Interrupted, "stopped before anything was written");
        }
        if (args_.flash && IsOlder(held.Firmware(), CarriedFirmwareVersion())) {
            board_.Step(w.path, std::string("installing firmware ") + FirmwareImageVersion(), 0);
            const FirmwareInstall install = InstallFirmware(run, held, &w.events, &stop_);
            if (!install.otherController.empty()) {
                // Another controller came back in its place: untouched, it is a unit of its own.
                w.otherController = install.otherController;
                unit.flashed = true;
                unit.after = CarriedFirmwareVersion();
                return failed(UnitResult::Outcome::Failed, install.failure);
            }
            unit.path = run.ChosenDevice();  // it may have come back on another node
            if (install.code != kExitDone) {
                // Not known unless it took every line: programming may or may not have taken.
                unit.after = install.programmed ? std::optional(CarriedFirmwareVersion()) : std::nullopt;
                unit.flashed = install.programmed;
                return failed(install.interrupted ? UnitResult::Outcome::Interrupted : UnitResult::Outcome::Failed,
                              install.failure);
            }
            unit.flashed = true;
            unit.after = install.now;
            board_.Step(w.path, "reading after the restart", -1);
            if (!run.Connect() || !run.Read(held)) {
                return failed(UnitResult::Outcome::Failed, "after the new firmware: " + run.LastFailure());
            }
            unit.after = held.Firmware();
        }
        board_.Step(w.path, "writing the profile", -1);
        const ProfileApplied applied = ApplyProfile(run, profile_, held, false, run.io.err, &stop_);
        unit.written = applied.written;
        if (applied.code != kExitDone) {
            return failed(applied.interrupted ? UnitResult::Outcome::Interrupted : UnitResult::Outcome::Failed,
                          Joined(applied.failures));
        }
        return unit;
    }

    // Says the unit's result and keeps it in the record. A record that cannot be written, or result lines that
    // cannot, stop the run: the workers at their next safe point, and no further unit starts.
    void Report(const UnitResult& unit)
    {
        switch (unit.outcome) {
        case UnitResult::Outcome::Ok:
            ++tally_.ok;
            break;
        case UnitResult::Outcome::Failed:
            ++tally_.failed;
            break;
        case UnitResult::Outcome::Interrupted:
            ++tally_.interrupted;
            break;
        }
        board_.Write(run_.io.out, run_.StopsLineBreak(run_.io.outIsTerminal) +
                                      (args_.json ? ResultJson(unit).dump() : ResultLine(unit)) + "\n");
        if (log_ && !recordLost_) {
            std::string error;
            if (!log_->Append("provision " + args_.file, unit, error)) {
                board_.Say("doorphonectl: cannot write the record " + log_->Path() + ": " + error +
                           "; stopped, so that no controller goes unrecorded\n");
                recordLost_ = true;
                End();
            }
        }
        if (!run_.io.out && !outputLost_) {
            // Its result line is lost (a closed pipe, a full disk): the unit is done and in the record, and
            // no further one is started that nobody would see the result of. The end of the run says why.
            board_.Say("doorphonectl: provision stops: its result lines cannot be written\n");
            outputLost_ = true;
            End();
        }
    }

    // The workers at work stop at their next safe point; none starts after them.
    void End()
    {
        ended_ = true;
        if (!workers_.empty()) {
            stop_.Request();
        }
    }

    void Summary()
    {
        std::ostream& to = args_.json ? run_.io.err : run_.io.out;
        // A stop from the terminal left "^C" where the cursor was: the summary starts a line of its own.
        const std::string fresh = run_.StopsLineBreak(args_.json ? run_.io.errIsTerminal : run_.io.outIsTerminal);
        board_.Write(to, fresh + "Provisioned " + Plural(tally_.Done(), "controller", "controllers") + ": " +
                             std::to_string(tally_.ok) + " OK, " + std::to_string(tally_.failed) + " failed, " +
                             std::to_string(tally_.interrupted) + " interrupted.\n");
    }

    CliRun& run_;
    const CommandArgs& args_;
    const ProfileContents& profile_;
    UnitLog* log_;
    StopRequest& stop_;
    HotplugMonitor& monitor_;
    const std::string only_;  // --device: this controller only
    const int count_;         // 0: until a stop
    const int jobs_;          // 0: every controller present
    Board board_;
    std::optional<sim::ControllerCommands> commands_;  // the virtual bench's, from standard input while waiting
    std::optional<sim::LineReader> commandLines_;
    std::optional<portable::InputPump> input_;
    bool reading_ = false;                             // standard input is still open
    ConnectionPolicy units_{run_.Session(), nullptr};  // which controllers are new units; each worker settles its own
    std::list<std::unique_ptr<Worker>> workers_;       // at work, in the order they started
    portable::Wakeup workerDone_;
    bool ended_ = false;  // the record or the result lines could not be written
    bool recordLost_ = false;
    bool outputLost_ = false;
    Tally tally_;
};

}  // namespace

int ProvisionCommand(CliRun& run, const CommandArgs& args)
{
    std::string error;
    const std::optional<std::string> text = ReadWholeFile(args.file, kLargestProfile, error);
    if (!text) {
        return run.Fail(kExitUsage, "cannot read " + args.file + ": " + error);
    }
    const ProfileContents profile = ReadProfileText(*text);
    for (const std::string& e : profile.errors) {
        run.Fail(kExitUsage, args.file + ": " + e);
    }
    if (!profile.errors.empty()) {
        return kExitUsage;
    }
    std::unique_ptr<UnitLog> log;
    if (!args.log.empty() && !(log = UnitLog::Open(args.log, error))) {
        return run.Fail(kExitUsage, "cannot open the record " + args.log + ": " + error);
    }
    std::unique_ptr<HotplugMonitor> monitor = run.Backend().CreateMonitor();
    if (!monitor) {
        return run.Fail(kExitDevice, "cannot watch for controllers being plugged in");
    }
    StopRequest& stop = run.CatchStopSignals();
    if (args.flash) {
        run.HoldThroughRestart();
    }
    run.SayFailures(false);  // each unit's failure is said in its result line
    Provisioner provisioner(run, args, profile, log.get(), stop, *monitor, run.ChosenDevice());
    const int code = provisioner.Run();
    run.SayFailures(true);
    return code;
}
