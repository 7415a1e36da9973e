#include "job_outcome.h"

#include <iterator>

namespace kt::engine {

namespace {

constexpr OutcomeWords kWords[] = {
    {JobOutcome::Finished, "finished", "finished", "LogFinished"},
    {JobOutcome::PortUnavailable, "port-unavailable", "port unavailable", "LogPortUnavailable"},
    {JobOutcome::ServerClosed, "connection-refused", "server refused", "LogServerClosed"},
    {JobOutcome::NoAnswer, "no-answer", "no answer", "LogNoAnswer"},
    {JobOutcome::Garbled, "garbled", "line garbled", "LogGarbled"},
    {JobOutcome::PortLost, "port-lost", "port lost", "LogPortLost"},
    {JobOutcome::FileError, "file-error", "file error", "LogFileError"},
    {JobOutcome::Cancelled, "stopped", "stopped", "LogCancelled"},
    {JobOutcome::NothingChosen, "nothing-chosen", "nothing chosen", "LogNothingChosen"},
    {JobOutcome::Declined, "declined", "declined", "LogDeclined"},
    {JobOutcome::Differences, "differences", "differences", "LogDifferences"},
    {JobOutcome::None, "none", "none", "LogNone"},
};

} // namespace

const OutcomeWords& wordsOf(JobOutcome outcome) {
    for (const OutcomeWords& words : kWords)
        if (words.outcome == outcome)
            return words;
    return kWords[std::size(kWords) - 1];
}

std::optional<JobOutcome> outcomeFromId(const QString& id) {
    for (const OutcomeWords& words : kWords)
        if (id == QLatin1String(words.id))
            return words.outcome;
    // Words of job logs written before the identifiers.
    static const std::pair<const char*, JobOutcome> older[] = {
        {"communication error", JobOutcome::NoAnswer},
        {"cancelled", JobOutcome::Cancelled},
        {"file error", JobOutcome::FileError},
        {"nothing chosen", JobOutcome::NothingChosen},
        {"port error", JobOutcome::PortUnavailable}};
    for (const auto& [word, outcome] : older)
        if (id == QLatin1String(word))
            return outcome;
    return std::nullopt;
}

bool isLineFailure(JobOutcome outcome) {
    switch (outcome) {
    case JobOutcome::NoAnswer:
    case JobOutcome::Garbled:
    case JobOutcome::PortLost:
    case JobOutcome::ServerClosed:
    case JobOutcome::PortUnavailable:
        return true;
    default:
        return false;
    }
}

} // namespace kt::engine
