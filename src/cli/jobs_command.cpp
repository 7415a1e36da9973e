#include "jobs_command.h"

#include "command_support.h"
#include "fleet/exit_status.h"
#include "fleet/job_processes.h"
#include "signal_watch.h"
#include "stdin_lines.h"
#include "transfer_run.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <memory>

namespace kt::cli {

namespace {

static_assert(StdinLines::kMaxLine >= fleet::JobProcesses::kMaxJobLine,
              "a job line the run hands over is taken whole");

void reply(int id, int status, const QJsonObject& summary, const QString& errors) {
    QJsonObject line{{"job", id}, {"status", status}, {"errors", errors}};
    if (!summary.isEmpty())
        line.insert("summary", summary);
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

class Jobs : public QObject {
  public:
    explicit Jobs(QString iniFile) : iniFile_(std::move(iniFile)) {
        connect(&input_, &StdinLines::line, this, &Jobs::take);
        connect(&input_, &StdinLines::tooLong, this, [] {
            complain(QStringLiteral("a job line longer than %1 bytes was dropped")
                         .arg(StdinLines::kMaxLine));
        });
        connect(&input_, &StdinLines::ended, this, [this] { closeInput(); });
        connect(&watch_, &SignalWatch::arrived, this, [this] { stopAll(); });
    }

    bool interrupted() const { return watch_.interrupted(); }

  private:
    struct Running {
        std::unique_ptr<TransferRun, void (*)(TransferRun*)> run{nullptr, nullptr};
        QByteArray errors; // what it said, as much as its run keeps
    };

    void take(const QByteArray& text) {
        const QJsonObject line = QJsonDocument::fromJson(text).object();
        if (line.value("stop").toBool())
            return stopAll();
        const int id = line.value("job").toInt(-1);
        if (id < 0 || running_.count(id)) {
            complain(QStringLiteral("a job line that is not one was dropped: %1")
                         .arg(QString::fromUtf8(text.left(200))));
            return;
        }
        if (closed_) // after a stop: it ends as the jobs stopped did
            return reply(id, kInterrupted, {}, complaintText(QStringLiteral("stopped")) + u'\n');
        QStringList arguments;
        for (const QJsonValue& argument : line.value("arguments").toArray())
            arguments.append(argument.toString());
        static const QStringList transfers = {"save", "load", "verify"};
        const auto options = parseOptions(arguments, iniFile_);
        if (!options || !transfers.contains(options->command) || !options->info.isEmpty())
            return reply(id, kUsage, {},
                         complaintText(options ? QStringLiteral("jobs runs save, load and verify")
                                               : options.error().message) +
                             u'\n');
        Running& running = running_[id];
        running.run = {new TransferRun(*options, iniFile_,
                                       [this, id](const QString& said) { keep(id, said); }),
                       [](TransferRun* run) { run->deleteLater(); }};
        connect(running.run.get(), &TransferRun::ended, this, [this, id] { ended(id); });
        running.run->start();
    }

    void keep(int id, const QString& said) {
        const auto found = running_.find(id);
        if (found == running_.end())
            return;
        fleet::JobProcesses::keepEnd(found->second.errors, said.toUtf8() + '\n');
    }

    void ended(int id) {
        const auto found = running_.find(id);
        reply(id, found->second.run->status(), found->second.run->summary(),
              QString::fromUtf8(found->second.errors));
        running_.erase(found);
        if (closed_ && running_.empty())
            QCoreApplication::quit();
    }

    void stopAll() {
        closed_ = true;
        for (auto& [id, running] : running_)
            running.run->cancel();
        if (running_.empty())
            QCoreApplication::quit();
    }

    void closeInput() {
        closed_ = true;
        if (running_.empty())
            QCoreApplication::quit();
    }

    QString iniFile_;
    SignalWatch watch_;
    StdinLines input_;
    std::map<int, Running> running_;
    bool closed_ = false; // no more jobs are taken
};

} // namespace

int runJobs(const QString& iniFile) {
    Jobs jobs(iniFile);
    QCoreApplication::exec();
    return jobs.interrupted() ? kInterrupted : kDone;
}

} // namespace kt::cli
