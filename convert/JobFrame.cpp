#include "JobFrame.h"

#include "MessageService.h"
#include "SoundShape.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <list>
#include <sched.h>
#include <thread>

namespace {

thread_local std::shared_ptr<CJobState> t_job;
thread_local std::string t_label;

int PerMille(uint64_t consumed, int64_t fileSize) {
    if (fileSize <= 0)
        return 0;
    return static_cast<int>(static_cast<double>(consumed) / static_cast<double>(fileSize) * 1000.0);
}

std::mutex g_coreMutex;
int g_jobs = 0;
int g_borrowedCores = 0;

} // namespace

CJobState::CJobState() {
    std::lock_guard lock(g_coreMutex);
    ++g_jobs;
}

CJobState::~CJobState() {
    std::lock_guard lock(g_coreMutex);
    --g_jobs;
}

void CJobState::AttachView(IJobView* view) {
    std::lock_guard lock(m_viewMutex);
    m_pView = view;
}

void CJobState::AttachWake(std::function<void()> wake) {
    std::lock_guard lock(m_viewMutex);
    m_wake = std::move(wake);
}

void CJobState::Wake() {
    std::lock_guard lock(m_viewMutex);
    if (m_wake)
        m_wake();
}

void CJobState::ReportPosition(int pos) {
    m_nLastPosition = pos;
    std::lock_guard lock(m_viewMutex);
    if (m_pView)
        m_pView->SetProgressPos(pos);
}

void CJobState::RemoveTempWav() {
    if (m_tempWav)
        m_tempWav->Remove();
}

bool CTempWavSource::Open(const std::string& path, const CSoundShape* shape) {
    Close();
    m_shape = shape;
    m_value = 0;
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return false;
    if (fseeko(m_file, 0, SEEK_END) != 0 || (m_fileSize = ftello(m_file)) < 0) {
        Close();
        return false;
    }
    m_consumed = 0;
    // A file shorter than the header simply reads as empty.
    fseeko(m_file, 44, SEEK_SET);
    return true;
}

size_t CTempWavSource::Read(int16_t* buffer, size_t values) {
    if (!m_file)
        return 0;
    // Whole values only: an odd byte left at the end of the file stays unread.
    const size_t got = std::fread(buffer, sizeof(int16_t), values, m_file);
    Shape(buffer, got);
    return got;
}

size_t CTempWavSource::ReadBytes(void* buffer, size_t bytes) {
    if (!m_file)
        return 0;
    if (!m_shape)
        return std::fread(buffer, 1, bytes, m_file);
    return Read(static_cast<int16_t*>(buffer), bytes / 2) * 2;
}

bool CTempWavSource::Seek(uint64_t sampleByte) {
    m_value = sampleByte / 2;
    return m_file && fseeko(m_file, static_cast<off_t>(44 + sampleByte), SEEK_SET) == 0;
}

void CTempWavSource::Shape(int16_t* values, size_t count) {
    const uint64_t first = m_value;
    m_value += count;
    if (!m_shape)
        return;
    // A read that starts or ends inside a frame shapes its odd values one by one.
    const auto one = [&](size_t i) {
        values[i] = m_shape->ApplyOne(values[i], static_cast<int64_t>((first + i) / 2));
    };
    size_t i = 0;
    for (; i < count && (first + i) % 2 != 0; ++i)
        one(i);
    const size_t frames = (count - i) / 2;
    m_shape->Apply(values + i, 2, static_cast<int64_t>((first + i) / 2), frames);
    for (i += frames * 2; i < count; ++i)
        one(i);
}

int CTempWavSource::GetPerMille() const {
    return PerMille(m_consumed, m_fileSize);
}

void CTempWavSource::Close() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

CJobState& CurrentJob() {
    return *t_job;
}

void ReportProgress(int perMille) {
    t_job->ReportPosition(perMille);
}

bool IsCancelRequested() {
    return t_job->m_bCancelRequested.load() == 1;
}

int FailJob(const std::string& message) {
    // After a cancel the job's files are taken away under a worker that has not yet looked at the
    // flag: what then fails is the cancel's doing, and the user has been told of the cancel.
    if (t_job->m_bCancelRequested.load() == 0)
        ShowMessage(message, MsgButtons::Ok, nullptr, MsgIcon::Warning);
    t_job->m_bConvertFailed = 1;
    return -1;
}

int FinishJob() {
    t_job->RemoveTempWav();
    t_job->m_bConvertDone = 1;
    return 0;
}

int CancelJob() {
    t_job->RemoveTempWav();
    return -1;
}

void SetJobLabel(const std::string& label) {
    t_label = label;
}

const std::string& JobLabel() {
    return t_label;
}

const char* const kUnfinishedRemoved =
    "\nThe partial output file could not be finished so that it plays, and was removed.";

bool RemoveOutput() {
    return t_job->m_output && t_job->m_output->Remove();
}

std::thread StartJobWorker(std::function<void()> work) {
    return std::thread([job = t_job, label = t_label, work = std::move(work)] {
        t_job = job;
        t_label = label;
        work();
        t_job.reset();
    });
}

void CSharedProgress::AddConsumed(uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_consumed += bytes;
    const int perMille = PerMille(m_consumed, m_fileSize);
    if (perMille > m_reported) {
        m_reported = perMille;
        ReportProgress(perMille);
    }
}

int CoreCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int BorrowCores(int wanted) {
    const int cores = CoreCount();
    std::lock_guard lock(g_coreMutex);
    const int count = std::clamp(cores - std::max(g_jobs, 1) - g_borrowedCores, 0, std::max(wanted, 0));
    g_borrowedCores += count;
    return count;
}

void ReturnCores(int count) {
    std::lock_guard lock(g_coreMutex);
    g_borrowedCores -= count;
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

struct EncoderThreadRegistry {
    std::mutex mutex;
    std::list<std::pair<std::shared_ptr<CEncoderThread>, std::thread>> threads;

    // The program waits for its threads before it ends; this only keeps a straggler from aborting exit.
    ~EncoderThreadRegistry() {
        for (auto& entry : threads)
            entry.second.join();
    }

    static EncoderThreadRegistry& Get() {
        static EncoderThreadRegistry registry;
        return registry;
    }

    // Joins the threads that have ended; keeps the rest.
    void Reap() {
        std::lock_guard lock(mutex);
        for (auto it = threads.begin(); it != threads.end();) {
            if (!it->first->IsRunning()) {
                it->second.join();
                it = threads.erase(it);
            } else {
                ++it;
            }
        }
    }
};

std::shared_ptr<CEncoderThread> CEncoderThread::Start(std::shared_ptr<CJobState> job, Proc proc) {
    auto& registry = EncoderThreadRegistry::Get();
    registry.Reap();
    auto handle = std::shared_ptr<CEncoderThread>(new CEncoderThread);
    std::thread thread([handle, job = std::move(job), label = t_label, proc] {
        t_job = job;
        t_label = label;
        handle->m_result = proc();
        handle->m_running = false;
        job->Wake();
        t_job.reset(); // releases this thread's hold on the temporary WAV
    });
    std::lock_guard lock(registry.mutex);
    registry.threads.emplace_back(handle, std::move(thread));
    return handle;
}

void WaitForEncoderThreads() {
    auto& registry = EncoderThreadRegistry::Get();
    for (;;) {
        registry.Reap();
        {
            std::lock_guard lock(registry.mutex);
            if (registry.threads.empty())
                return;
        }
        // A thread may be waiting for a message box on this thread.
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
