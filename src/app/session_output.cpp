// --record and --replay: a session file written while the run goes, or read in place of the
// clock and the keyboard.

#include "app/run_output.h"
#include "base/checked_file.h"
#include "base/data_folder.h"
#include "session/session_run.h"

namespace {

class SessionOutput final : public RunOutput {
public:
    explicit SessionOutput(const RunOptions& options) : recordFile_(options.recordFile), replayFile_(options.replayFile) {}

    bool readInputs(std::string& error) override { return replayFile_.empty() || replayer_.load(replayFile_, error); }
    void listFiles(std::vector<RunFile>& writes, std::vector<RunFile>& reads) const override
    {
        if (!recordFile_.empty()) writes.push_back({recordFile_, "--record " + recordFile_});
        if (!replayFile_.empty()) reads.push_back({replayFile_, "the session " + replayFile_});
    }
    // The recorded data files must be the ones here. Files the recorded run did not read (the
    // sounds of a silent recording) cannot have shaped it: the replay may read them.
    bool open(std::string& error) override
    {
        if (replaying()) {
            std::string how;
            const std::string differing = firstDifferingDataFile(replayer_.session(), how);
            if (!differing.empty()) {
                error = "session " + replayFile_ + " cannot be replayed here: the data file " +
                        printableName(shownPath(differing)) + " " + how;
                return false;
            }
        }
        if (recordFile_.empty()) return true;
        if (!recorder_.create(recordFile_)) return fails(recorder_.error(), error);
        recording_ = true;
        setReadFileObserver([this](const std::string& name) { recorder_.noteFileRead(name); });
        return true;
    }
    // A headless session loads the game's sounds as a window does (mixed into nothing when no
    // output wants them): whether they load shows in the run (the explosion's sound channel),
    // and a session must replay the same with or without sound output.
    bool wantsMix(bool headless) const override { return headless; }

    // A replay watched in a window keeps the pace it was flown at; otherwise it runs as fast
    // as it can.
    std::unique_ptr<TickSource> clock(std::unique_ptr<TickSource> clock, bool paced) override
    {
        if (replaying()) return replayer_.makeClock(paced);
        if (recording_) return recorder_.wrapClock(std::move(clock));
        return clock;
    }
    // A recording keeps the seed the run uses; a replay uses the recorded one.
    uint32_t seed(uint32_t seed) override
    {
        if (replaying()) seed = replayer_.session().seed;
        if (recording_) recorder_.begin(seed);
        return seed;
    }
    std::unique_ptr<KeyboardSource> keyboard(std::unique_ptr<KeyboardSource> keyboard) override
    {
        if (replaying()) return replayer_.makeKeyboard(std::move(keyboard));
        if (recording_) return recorder_.wrapKeyboard(std::move(keyboard));
        return keyboard;
    }
    int64_t frameTotal(int64_t frames) const override
    {
        if (!replaying()) return frames;
        return frames >= 0 && frames < replayer_.frameCount() ? frames : replayer_.frameCount();
    }

    bool startUpDone(std::string& error) override
    {
        if (recording_ && !recorder_.startUpDone()) return fails(recorder_.error(), error);
        if (replaying()) replayer_.startUpDone();
        return replayer_.error().empty() || fails(replayer_.error(), error);
    }
    bool afterFrame(const FrameDone& frame, std::string& error) override
    {
        if (recording_ && !recorder_.frameDone(frame.index)) return fails(recorder_.error(), error);
        if (replaying()) replayer_.frameDone();
        return replayer_.error().empty() || fails(replayer_.error(), error);
    }

    bool finish(const char* reason, std::string& error) override
    {
        setReadFileObserver(nullptr);
        finished_ = true;
        return !recording_ || recorder_.finish(reason) || fails(recorder_.error(), error);
    }
    bool commit(std::string& error) override { return !recording_ || recorder_.commit() || fails(recorder_.error(), error); }
    // A session that did not reach its end says so; one that did keeps its end line.
    void abandon() override
    {
        setReadFileObserver(nullptr);
        recorder_.abandon(finished_ ? "" : "error");
    }

private:
    bool replaying() const { return !replayFile_.empty(); }
    std::string recordFile_, replayFile_;
    bool recording_ = false;
    bool finished_ = false;
    SessionRecorder recorder_;
    SessionReplayer replayer_;
};

}  // namespace

std::unique_ptr<RunOutput> makeSessionOutput(const RunOptions& options)
{
    if (options.recordFile.empty() && options.replayFile.empty()) return nullptr;
    return std::make_unique<SessionOutput>(options);
}
