#pragma once
#include <string>
#include <utility>

// What one step of a run (choosing, fetching or unpacking an archive) came to.
struct StepResult {
    enum class Outcome {
        Done,
        Failed,        // the archive is not whole or not unpacked whole: the run goes on, ending failed
        Stopped,       // the run is being stopped
        WriteFailed,   // a local write failed (a full disk or any other cause): the run ends
        Held,          // another running copy holds the archive: the run ends
        Refused,       // not signed by the publisher for this name and these bytes, and deleted: the run ends
    };
    Outcome outcome = Outcome::Done;
    // Why, in words, for anything but Done (it becomes the run's reason).
    std::string reason;

    static StepResult Done() { return {}; }
    static StepResult Fail(Outcome outcome, std::string reason) { return {outcome, std::move(reason)}; }
    bool IsDone() const { return outcome == Outcome::Done; }
    explicit operator bool() const { return IsDone(); }
    // The run cannot go on to the next archive.
    bool EndsRun() const
    {
        return outcome == Outcome::WriteFailed || outcome == Outcome::Held || outcome == Outcome::Refused;
    }
};
