#include "transfer_run.h"

#include "command_support.h"
#include "engine/backup_file.h"
#include "engine/load_warnings.h"
#include "engine/record_compare.h"
#include "fleet/exit_status.h"
#include "link/port_naming.h"
#include "transfer_command.h"

#include <QJsonArray>

namespace kt::cli {

namespace {

engine::Direction directionOf(const CliOptions& options) {
    return options.command == QLatin1String("save")   ? engine::Direction::Save
           : options.command == QLatin1String("load") ? engine::Direction::Load
                                                      : engine::Direction::Verify;
}

// The card count of a job: --cards, else for a Load or a Verify the slots
// the backup covers.
int cardCountOf(const CliOptions& options, engine::Direction direction) {
    if (options.cards)
        return *options.cards;
    if (direction != engine::Direction::Save) {
        const int saved = engine::backupCardCount(options.files[0]);
        if (saved >= 1 && saved <= engine::kMaxCards)
            return saved;
    }
    return engine::kMaxCards;
}

} // namespace

TransferRun::TransferRun(CliOptions options, QString iniFile, CliView::Say say)
    : options_(std::move(options)), iniFile_(std::move(iniFile)), say_(std::move(say)),
      port_(iniFile_) {
    const engine::Direction direction = directionOf(options_);
    request_ = {.direction = direction,
                .file = options_.files[0],
                .address = options_.address,
                .categories = options_.categories,
                .cardCount = cardCountOf(options_, direction),
                .portName = link::portAndLine(options_.port, iniFile_)};
}

TransferRun::~TransferRun() {
    if (job_)
        job_->cancel();
    port_.close();
}

void TransferRun::say(const QString& text) const {
    if (say_)
        return say_(complaintText(text));
    complain(text);
}

void TransferRun::start() {
    if (ended_ || cancelled_)
        return;
    if (!port_.setPortName(options_.port) || !port_.setSettings(options_.settings.strSettings)) {
        // Reported from the event loop, as an open is.
        QMetaObject::invokeMethod(
            this, [this] { opened(false); }, Qt::QueuedConnection);
        return;
    }
    port_.startOpen(clock_, [this](bool ok) { opened(ok); });
}

void TransferRun::cancel() {
    if (ended_ || cancelled_)
        return;
    cancelled_ = true;
    if (job_)
        return job_->cancel(); // its end follows
    // The open's report is dropped with the close: the run ends here.
    port_.close();
    QMetaObject::invokeMethod(
        this, [this] { end(kInterrupted); }, Qt::QueuedConnection);
}

void TransferRun::opened(bool ok) {
    if (ended_ || cancelled_)
        return;
    if (!ok)
        return portFailed();
    view_ = std::make_unique<CliView>(iniFile_, languageOf(options_), options_.quiet, options_.yes,
                                      say_);
    job_ = std::make_unique<engine::TransferJob>(port_, clock_, *view_,
                                                 link::lineTimesOf(options_.settings));
    job_->setJobLog(&log_);
    connect(job_.get(), &engine::TransferJob::logFailed, this,
            [this](const QString& reason) { say(QStringLiteral("the job log: %1").arg(reason)); });
    view_->attach(job_.get());
    elapsed_.start();
    connect(job_.get(), &engine::TransferJob::finished, this, &TransferRun::jobEnded);
    if (!job_->start(request_))
        QMetaObject::invokeMethod(this, &TransferRun::jobEnded, Qt::QueuedConnection);
}

// A job whose port could not be opened: logged and summed up like any other.
void TransferRun::portFailed() {
    say(QStringLiteral("cannot open %1 (%2): %3")
            .arg(options_.port, QString::fromLatin1(options_.settings.strSettings),
                 port_.errorString()));
    const engine::JobOutcome outcome = port_.openError() == link::SerialPort::OpenError::Server
                                           ? engine::JobOutcome::ServerClosed
                                           : engine::JobOutcome::PortUnavailable;
    engine::JobEntry entry = engine::entryOf(request_, outcome);
    entry.failedTries = 1; // the one try to open the port
    entry.error = port_.errorString();
    if (const shell::Status logged = log_.append(entry); !logged && !options_.quiet)
        say(QStringLiteral("the job log: %1").arg(logged.error().message));
    const int status = kPortError; // whatever kind of port it is
    if (options_.json) {
        summary_ = summaryOf(nullptr, outcome, port_.errorString(), 0, status);
        addPortProblem(summary_, port_);
    }
    end(status);
}

void TransferRun::jobEnded() {
    if (ended_)
        return;
    job_->cancel();
    port_.close();
    const int status = exitStatusOf(job_->outcome());
    if (options_.json)
        summary_ = summaryOf(job_.get(), job_->outcome(), job_->error(),
                             elapsed_.elapsed() / 1000.0, status);
    end(status);
}

void TransferRun::end(int status) {
    if (ended_)
        return;
    ended_ = true;
    status_ = status;
    emit ended();
}

QString TransferRun::differencesText() const {
    if (!job_ || job_->differences().isEmpty())
        return {};
    // Categories by their names in the window, as the report beside the
    // backup names them.
    return engine::describeDifferences(job_->differences(), QStringLiteral("file"),
                                       QStringLiteral("controller"),
                                       [this](const engine::Category& category) {
                                           return view_->languageText(category.languageKey);
                                       });
}

// The one-line summary of --json. `job` is null when the port could not be
// opened and no job began.
QJsonObject TransferRun::summaryOf(const engine::TransferJob* job, engine::JobOutcome outcome,
                                   const QString& error, double seconds, int status) const {
    const engine::JobRequest& request =
        job && !job->request().file.isEmpty() ? job->request() : request_;
    QJsonArray categories;
    for (const engine::Category* category : request.categories)
        categories.append(QString::fromLatin1(category->name));
    const engine::TransferJob::Counts counts = job ? job->counts() : engine::TransferJob::Counts{};
    QJsonObject summary{
        {"command", options_.command},
        {"file", request.file},
        {"port", options_.port},
        {"address", request.address},
        {"categories", categories},
        {"cards", request.cardCount},
        {"records", counts.done},
        {"emptyCardSlots", counts.empty},
        {"skipped", counts.skipped},
        {"failedTries", job ? int(job->link().errorCount()) : 0},
        {"seconds", qRound(seconds * 10) / 10.0},
        {"outcome", QString::fromLatin1(engine::outcomeName(outcome))},
        {"exitStatus", status},
    };
    if (!error.isEmpty())
        summary.insert("error", error.left(engine::JobLog::kMaxErrorChars));
    if (job && request.direction == engine::Direction::Load && !job->untouchedCards().isEmpty())
        summary.insert("cardSlotsLeft", engine::slotList(job->untouchedCards()));
    if (job && job->keptIn().size())
        summary.insert("keptIn", job->keptIn());
    if (job && outcome == engine::JobOutcome::Finished && job->replacedBackup())
        summary.insert(
            "replacedComplete",
            QJsonObject{{"controller", QString::fromLatin1(job->replacedBackup()->controller)},
                        {"finished", QString::fromLatin1(job->replacedBackup()->finished)}});
    if (job && request.direction == engine::Direction::Verify)
        summary.insert("differences", differencesJson(job->differences(), "file", "controller"));
    return summary;
}

} // namespace kt::cli
