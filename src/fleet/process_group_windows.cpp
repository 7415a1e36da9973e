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
    // The child, made suspended, joins the job before it runs a single
    // instruction, so that nothing it starts escapes; then it runs.
    void holdAndResume() {
        if (!created_)
            return;
        if (job_)
            AssignProcessToJobObject(job_, created_->hProcess);
        ResumeThread(created_->hThread);
        created_ = nullptr;
    }
    // Qt's record of the child it makes, which it keeps until the child ends.
    void madeAs(PROCESS_INFORMATION* created) { created_ = created; }
    void kill() {
        if (job_)
            TerminateJobObject(job_, 1);
    }

  private:
    HANDLE job_ = nullptr;
    PROCESS_INFORMATION* created_ = nullptr;
};

} // namespace

void leadOwnGroup(QProcess& process) {
    auto* job = new JobObject(process);
    process.setCreateProcessArgumentsModifier([job](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        job->madeAs(arguments->processInformation);
    });
    QObject::connect(&process, &QProcess::started, job, [job] { job->holdAndResume(); });
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
