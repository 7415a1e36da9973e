// The processes a run's jobs run in, with stand-in job processes that
// answer as told: what each job ends with, also when its process fails.
#include "fleet/exit_status.h"
#include "fleet/job_processes.h"
#include "support/stand_in.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

struct End {
    int status = -1;
    QByteArray output;
    QByteArray errors;
};

constexpr char kFinished[] =
    R"sh(printf '{"job":%s,"status":0,"summary":{"outcome":"finished"},"errors":""}\n' "$id")sh";
constexpr char kFinishedAlone[] = R"sh(echo '{"outcome":"finished","alone":true}'; exit 0)sh";

// Job processes that log their start and each line they take, then answer
// by `answer`, a shell fragment run for each job with its number in $id.
// Started as `save FILE`, a job of its own, one logs that and runs `alone`.
QByteArray standIn(const char* answer, const char* alone = kFinishedAlone) {
    return QByteArray(R"sh(#!/bin/sh
echo "process $1" >>"$0.log"
if [ "$1" = save ]; then
    echo "alone $2" >>"$0.log"
)sh") + alone +
           R"sh(
fi
while IFS= read -r line; do
    echo "$line" >>"$0.log"
    id=$(printf '%s' "$line" | sed -n 's/.*"job":\([0-9]*\).*/\1/p')
    [ -n "$id" ] || continue
)sh" + answer +
           "\ndone\n";
}

QByteArray logOf(const QString& program) {
    QFile log(program + ".log");
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

// Starts `count` saves, stops them (or kills them, with `kill`) once
// `program` has logged that many jobs when `stop` is set, and waits until
// each has ended.
QList<End> runJobs(kt::fleet::JobProcesses& processes, int count, const QString& stop = {},
                   bool kill = false) {
    QList<End> ends(count);
    int left = count;
    for (int id = 0; id < count; ++id)
        processes.start(
            id, {"save", QStringLiteral("f%1.KT").arg(id)},
            [&ends, &left, id](int status, const QByteArray& output, const QByteArray& errors) {
                EXPECT_EQ(ends[id].status, -1) << "job " << id << " ended twice";
                ends[id] = {status, output, errors};
                --left;
            });
    if (!stop.isEmpty()) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return logOf(stop).count("save") == count; }, 20000));
        kill ? processes.kill() : processes.stop();
    }
    EXPECT_TRUE(QTest::qWaitFor([&left] { return left == 0; }, 20000)) << left << " jobs left";
    return ends;
}

// Saves share processes, as many a process as it takes, each job's line
// answered by its own end. When a process dies or says what is not a job's
// end, each job it had is tried again alone and ends as that try does, with
// the reason before; one that cannot start ends them as a file error.
TEST(JobProcesses, EachSaveEndsOnceAsItsProcessSaidOrAsItsTryAloneDid) {
    const char* again = "kt560ax: this job is tried again in a process of its own";
    const struct {
        const char* name;
        QByteArray program; // empty: none
        int status;
        const char* output;
        QByteArrayList errors;
        int alone; // tries alone
    } cases[] = {
        {"finished", standIn(kFinished), kt::kDone, "\"finished\"", {}, 0},
        {"killed",
         standIn("kill -KILL $$"),
         kt::kDone,
         "\"alone\"",
         {"kt560ax: the job process was killed during this job", again},
         3},
        {"ended",
         standIn("echo 'out of memory' >&2; exit 0"),
         kt::kDone,
         "\"alone\"",
         {"out of memory\nkt560ax: the job process ended (status 0) before this job", again},
         3},
        {"babbling",
         standIn("echo hello"),
         kt::kDone,
         "\"alone\"",
         {"kt560ax: the job process said what is not the end of a job", again},
         3},
        {"killed alone too",
         standIn("kill -KILL $$", "echo 'bad record' >&2; kill -KILL $$"),
         kt::kInterrupted,
         "",
         {"was killed during this job", again, "bad record"},
         3},
        {"missing", {}, kt::kFileError, "", {"kt560ax: cannot start"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString program = dir.filePath("kt560ax");
        if (!c.program.isEmpty()) {
            ASSERT_TRUE(kt::test::writeProgram(program, c.program.constData()));
        }
        kt::fleet::JobProcesses processes(program, 2);
        for (const End& end : runJobs(processes, 3)) {
            EXPECT_EQ(end.status, c.status);
            EXPECT_TRUE(end.output.contains(c.output)) << end.output.toStdString();
            qsizetype at = 0; // each error in its order
            for (const QByteArray& error : c.errors) {
                at = end.errors.indexOf(error, at);
                EXPECT_GE(at, 0) << error.toStdString() << " in " << end.errors.toStdString();
            }
        }
        EXPECT_EQ(logOf(program).count("alone "), c.alone);
        if (c.status == kt::kDone && c.alone == 0) {
            EXPECT_EQ(logOf(program).count("process jobs"), 2) << "two jobs a process";
        }
    }
}

// A stop reaches every shared process as a line (it may not take signals);
// a command other than save, and every job at one a process, runs as a
// program of its own, stopped by a signal; a kill ends every job, none tried
// again.
TEST(JobProcesses, AStopReachesSharedAndOwnProcesses) {
    QTemporaryDir dir;
    const QString shared = dir.filePath("shared");
    ASSERT_TRUE(kt::test::writeProgram(shared, standIn(R"sh(
case $line in
*stop*) for j in $jobs; do printf '{"job":%s,"status":5,"errors":"stopped"}\n' "$j"; done ;;
*) jobs="$jobs $id" ;;
esac)sh")
                                                   .replace("[ -n \"$id\" ] || continue", "")
                                                   .constData()));
    kt::fleet::JobProcesses together(shared, 16);
    for (const End& end : runJobs(together, 2, shared))
        EXPECT_EQ(std::pair(end.status, end.errors), std::pair(5, QByteArray("stopped")));
    EXPECT_EQ(logOf(shared).count("process jobs"), 1);

    const QString own = dir.filePath("own");
    ASSERT_TRUE(kt::test::writeProgram(
        own, "#!/bin/sh\necho \"$*\" >>\"$0.log\"\ntrap 'exit 5' TERM\nsleep 30 & wait\n"));
    kt::fleet::JobProcesses apart(own, 1);
    for (const End& end : runJobs(apart, 2, own))
        EXPECT_EQ(end.status, 5);
    QByteArrayList started = logOf(own).split('\n');
    std::sort(started.begin(), started.end());
    EXPECT_EQ(started, (QByteArrayList{"", "save f0.KT", "save f1.KT"}));

    // Killed by the run, the jobs of a shared process end so: none is tried
    // again.
    const QString silent = dir.filePath("silent");
    ASSERT_TRUE(kt::test::writeProgram(silent, standIn(":")));
    kt::fleet::JobProcesses killed(silent, 16);
    for (const End& end : runJobs(killed, 2, silent, true)) {
        EXPECT_EQ(end.status, kt::kInterrupted);
        EXPECT_TRUE(end.errors.contains("killed")) << end.errors.toStdString();
    }
    EXPECT_EQ(logOf(silent).count("alone "), 0);
}

} // namespace
