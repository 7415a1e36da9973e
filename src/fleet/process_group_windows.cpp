#include "process_group.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::fleet {

namespace {

const QString kJobObjectName = QStringLiteral("kt560ax job object");

// A job object that holds a child and whatever it starts; closing the last
// handle of it ends them all.
class JobObject final : public QObject {
  public:
    explicit JobObject(QProcess& process) : QObject(&process) {
        setObjectName(kJobObjectName);
        job_ = CreateJobObjectW(nullptr, nullptr);
        if (!job_)
            return;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    ~JobObject() override {
        if (job_)
            CloseHandle(job_);
    }
    void hold(qint64 processId) {
        const HANDLE child =
            OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId));
        if (!child)
            return;
        if (job_)
            AssignProcessToJobObject(job_, child);
        CloseHandle(child);
    }
    void kill() {
        if (job_)
            TerminateJobObject(job_, 1);
    }

  private:
    HANDLE job_ = nullptr;
};

} // namespace

void leadOwnGroup(QProcess& process) {
    auto* job = new JobObject(process);
    QObject::connect(&process, &QProcess::started, job,
                     [job, &process] { job->hold(process.processId()); });
}

// The job object of leadOwnGroup ends its child when its last handle
// closes, which the system does when this program ends, however it ends.
void endWithThisProgram(QProcess& process, ParentGone) {
    if (!process.findChild<QObject*>(kJobObjectName, Qt::FindDirectChildrenOnly))
        leadOwnGroup(process);
}

void killGroup(QProcess& process) {
    // Found by its name: the class has no meta-object of its own to find it by.
    if (auto* job = dynamic_cast<JobObject*>(
            process.findChild<QObject*>(kJobObjectName, Qt::FindDirectChildrenOnly)))
        job->kill();
    process.kill();
}

} // namespace kt::fleet
