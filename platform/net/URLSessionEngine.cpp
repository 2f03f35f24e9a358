#include "platform/net/URLSessionEngine.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Immortal.h"
#include "platform/net/CurlMemory.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/Resolver.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLSessionDelivery.h"
#include "platform/net/URLSessionLoad.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <openssl/crypto.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace platform::detail {

namespace {

std::once_flag g_once;
Immortal<URLSessionEngine>* g_engine = nullptr;

// Reset handles kept for later transfers (as many as the connections kept, so a burst that filled
// the pool finds them all again); more than this many idle ones are let go.
constexpr size_t kIdleEasyHandles = 128;
// Immediate time-outs run within one callout before the rest waits for the run loop, so curl asking
// for "now" again and again cannot starve the sockets.
constexpr int kImmediateTimeoutsPerCallout = 8;
// Deadline entries kept for reuse: two per load of a burst as large as the kept handles serve.
constexpr size_t kSpareDeadlines = 2 * kIdleEasyHandles;
// Takings of the starts list in one pass: starts posted while it runs join it, a poster that never
// stops cannot hold the sockets up.
constexpr int kStartRoundsPerPass = 4;

// Hands the room of a list that was taken whole and is done with back to the list it was taken
// from, unless that one has filled again meanwhile: lists remade on every pass then cost no allocation.
template <typename T> void keepRoom(std::vector<T>& done, std::vector<T>& list) {
    done.clear();
    if (list.empty())
        list.swap(done);
}

} // namespace

URLSessionEngine& URLSessionEngine::shared() {
    std::call_once(g_once, [] {
        static Immortal<URLSessionEngine> engine;
        g_engine = &engine;
    });
    return g_engine->get();
}

URLSessionEngine::Counts URLSessionEngine::counts() const {
    return Counts{m_startPasses.load(std::memory_order_relaxed),
                  m_socketsWatched.load(std::memory_order_relaxed),
                  m_watchChanges.load(std::memory_order_relaxed),
                  m_timersMade.load(std::memory_order_relaxed),
                  m_handlesReset.load(std::memory_order_relaxed),
                  m_deliveryPosts.load(std::memory_order_relaxed),
                  m_deadlinesMade.load(std::memory_order_relaxed),
                  m_addressesParsed.load(std::memory_order_relaxed),
                  m_blocks.blocksReused()};
}

class URLSessionEngine::Callout {
public:
    explicit Callout(URLSessionEngine& engine)
        : m_engine(engine) {
        if (m_engine.m_callouts++ == 0)
            m_engine.m_calloutTime.reset();
    }
    ~Callout() {
        if (--m_engine.m_callouts == 0)
            m_engine.calloutEnded();
    }
    Callout(const Callout&) = delete;
    Callout& operator=(const Callout&) = delete;

private:
    URLSessionEngine& m_engine;
};

URLSessionEngine::URLSessionEngine() {
    setUp();
}

void URLSessionEngine::setUp() {
    initializeCurlWithKeptBuffers();
    // Made before the exit hook is registered, so they are destroyed only after the hook has stopped
    // the network thread that uses them.
    Clock::current();
    Resolver::current();
    DispatchQueue::global();
    HTTPCookieStorage::sharedHTTPCookieStorage();
    URLCache::sharedURLCache();

    m_thread = Thread::create("URLSession network", [] {
        Thread::runUntilCancelled();
        // TLS keeps per-thread state that it would otherwise free only when the thread is gone,
        // after the exit hook has stopped waiting for it.
        OPENSSL_thread_stop();
    });
    m_thread->start();
    m_loop = m_thread->runLoop();
    m_thread->perform(
        [this] {
            m_blocks.makeHome();
            m_multi = curl_multi_init();
            curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &URLSessionEngine::socketCallback);
            curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
            curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &URLSessionEngine::timerCallback);
            curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
            // Room for the connections of a burst of requests to come back for the next one.
            curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 128L);
            // curl's own timer is real time whatever clock is installed: a test that stops the clock
            // must not stop the wire. Our idle time-outs are run-loop timers and follow the clock.
            m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
            m_timerSource = RunLoopFdSource::create(m_timerFd, [this](RunLoopFdSource&, uint32_t) {
                uint64_t expirations = 0;
                while (::read(m_timerFd, &expirations, sizeof expirations) > 0) {
                }
                m_timerArmed = false;
                socketAction(CURL_SOCKET_TIMEOUT, 0);
            });
            m_loop->addSource(m_timerSource, RunLoop::defaultMode);
        },
        true);
    fatalUnless(m_multi && m_timerFd >= 0, "URLSession: the network thread could not be set up");
    std::atexit([] { URLSessionEngine::shared().tearDown(); });
}

void URLSessionEngine::tearDown() {
    m_thread->perform(
        [this] {
            m_tornDown = true;
            // A task under way is held by its session until it ends, and holds the session: the tasks
            // that will not end now are let go, so no session outlives the process's end unreachable.
            std::vector<URLSessionTaskPtr> dropped;
            {
                std::lock_guard lock(m_startMutex);
                dropped.swap(m_starting);
            }
            for (const auto& [id, load] : m_loads)
                dropped.push_back(load->task());
            for (const auto& task : dropped)
                task->m_session->dropTask(*task);
            m_loads.clear();
            for (const EasyHandle& idle : m_idleEasy)
                dropEasy(idle);
            m_idleEasy.clear();
            for (auto& [fd, watch] : m_sockets)
                watch.source->invalidate();
            m_sockets.clear();
            m_timerSource->invalidate();
            if (m_deadlineTimer)
                m_deadlineTimer->invalidate();
            m_deadlines.clear();
            m_spareDeadlines.clear();
            curl_multi_cleanup(m_multi);
            m_multi = nullptr;
            ::close(m_timerFd);
        },
        true);
    m_thread->cancel();
    m_thread->join();
}

bool URLSessionEngine::post(std::function<void()> work) {
    return m_thread->perform([this, work = std::move(work)] {
        if (!m_tornDown && work) {
            Callout callout(*this);
            work();
        }
    });
}

void URLSessionEngine::start(const URLSessionTaskPtr& task) {
    {
        std::lock_guard lock(m_startMutex);
        m_starting.push_back(task);
        if (m_starting.size() > 1)
            return; // the pass already asked for takes this one too
        m_startsWaiting.store(true, std::memory_order_relaxed);
    }
    if (post([this] { startWaiting(); }))
        return;
    std::vector<URLSessionTaskPtr> orphans;
    {
        std::lock_guard lock(m_startMutex);
        orphans.swap(m_starting);
    }
    for (const auto& orphan : orphans)
        orphan->m_session->taskEnded(*orphan);
}

void URLSessionEngine::startWaiting() {
    std::vector<URLSessionTaskPtr> tasks;
    // Starts that come while the pass begins the ones before are taken too, so a burst still being
    // posted goes out in one run of requests instead of two with the replies to the first read between.
    for (int round = 0; round < kStartRoundsPerPass; ++round) {
        {
            std::lock_guard lock(m_startMutex);
            tasks.swap(m_starting);
            m_startsWaiting.store(false, std::memory_order_relaxed);
        }
        if (tasks.empty())
            break;
        if (round == 0)
            m_startPasses.fetch_add(1, std::memory_order_relaxed);
        for (const auto& task : tasks)
            begin(task);
        tasks.clear();
    }
}

void URLSessionEngine::begin(const URLSessionTaskPtr& task) {
    uint64_t id = task->taskIdentifier();
    if (m_loads.count(id))
        return;
    auto [slot, inserted] = m_loads.emplace(id, std::make_unique<URLSessionLoad>(*this, task));
    slot->second->begin();
}

void URLSessionEngine::cancel(uint64_t taskIdentifier) {
    withLoad(taskIdentifier, [](URLSessionLoad& load) { load.cancel(); });
}

void URLSessionEngine::withLoad(uint64_t taskIdentifier, std::function<void(URLSessionLoad&)> work) {
    post([this, taskIdentifier, work = std::move(work)] {
        auto found = m_loads.find(taskIdentifier);
        if (found != m_loads.end() && !found->second->hasEnded()) {
            work(*found->second);
            flushLoads();
        }
    });
}

bool URLSessionEngine::addTransfer(CURL* easy) {
    // Connections copy this when they are made, so the engine hears of every socket curl closes.
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &URLSessionEngine::closeSocketCallback);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
    return curl_multi_add_handle(m_multi, easy) == CURLM_OK;
}

void URLSessionEngine::removeTransfer(CURL* easy) {
    if (m_multi)
        curl_multi_remove_handle(m_multi, easy);
}

void URLSessionEngine::loadEnded(uint64_t taskIdentifier) {
    // The load may be deep in its own call stack; it goes once that has unwound.
    if (m_callouts > 0)
        m_endedLoads.push_back(taskIdentifier);
    else
        m_loop->performBlock([this, taskIdentifier] { m_loads.erase(taskIdentifier); });
}

URLSessionEngine::EasyHandle URLSessionEngine::takeEasy() {
    if (m_idleEasy.empty()) {
        EasyHandle made;
        made.easy = curl_easy_init();
        return made;
    }
    EasyHandle handle = std::move(m_idleEasy.back());
    m_idleEasy.pop_back();
    return handle;
}

void URLSessionEngine::recycleEasy(EasyHandle handle, bool plain) {
    if (m_tornDown || m_idleEasy.size() >= kIdleEasyHandles) {
        dropEasy(handle);
        return;
    }
    CURL* easy = handle.easy;
    if (plain) {
        // What pointed into the ended transfer goes; the options all transfers share stay, and so
        // does the address, parsed already for the next transfer to the same URL.
        curl_easy_setopt(easy, CURLOPT_PRIVATE, nullptr);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
    } else {
        curl_easy_reset(easy);
        handle.addressText.clear(); // curl has let go of the address too
        m_handlesReset.fetch_add(1, std::memory_order_relaxed);
    }
    handle.configured = plain;
    m_idleEasy.push_back(std::move(handle));
}

void URLSessionEngine::setAddress(EasyHandle& handle, std::string_view address) {
    if (!handle.addressText.empty() && handle.addressText == address)
        return; // the handle's last transfer went to the same place: curl holds it parsed already
    handle.addressText = address;
    m_addressesParsed.fetch_add(1, std::memory_order_relaxed);
    // The text as well, so curl takes it as the transfer's URL instead of printing the parsed one
    // back; it parses only what it is not handed parsed. Text its own parser refuses goes to curl
    // alone, which then refuses the transfer as it always did.
    curl_easy_setopt(handle.easy, CURLOPT_URL, handle.addressText.c_str());
    if (!handle.address)
        handle.address = curl_url();
    if (handle.address && curl_url_set(handle.address, CURLUPART_URL, handle.addressText.c_str(),
                                       CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        curl_easy_setopt(handle.easy, CURLOPT_CURLU, handle.address);
        return;
    }
    curl_easy_setopt(handle.easy, CURLOPT_CURLU, nullptr);
    handle.addressText.clear();
}

void URLSessionEngine::dropEasy(const EasyHandle& handle) {
    curl_easy_cleanup(handle.easy);
    if (handle.address)
        curl_url_cleanup(handle.address); // after the transfer handle that pointed to it
}

MonoTime URLSessionEngine::now() {
    if (m_callouts == 0)
        return Clock::now();
    if (!m_calloutTime)
        m_calloutTime = Clock::now();
    return *m_calloutTime;
}

void URLSessionEngine::moveDeadline(uint64_t taskIdentifier, Deadline kind, std::optional<MonoTime> from,
                                    std::optional<MonoTime> to) {
    DeadlineSet::node_type entry;
    if (from)
        entry = m_deadlines.extract({*from, taskIdentifier, kind});
    if (!to) {
        keepSpareDeadline(std::move(entry));
        return; // a timer armed for a deadline that went fires for nothing, which costs less than moving it
    }
    if (!entry && !m_spareDeadlines.empty()) {
        entry = std::move(m_spareDeadlines.back());
        m_spareDeadlines.pop_back();
    }
    if (entry) {
        entry.value() = {*to, taskIdentifier, kind};
        m_deadlines.insert(std::move(entry));
    } else {
        m_deadlines.emplace(*to, taskIdentifier, kind);
        m_deadlinesMade.fetch_add(1, std::memory_order_relaxed);
    }
    if (!m_deadlineTimer || *to < m_deadlineTimerAt)
        armDeadlineTimer(*to);
}

void URLSessionEngine::armDeadlineTimer(MonoTime at) {
    m_deadlineTimerAt = at;
    if (m_deadlineTimer) {
        m_deadlineTimer->setFireDate(at);
        return;
    }
    m_deadlineTimer = Timer::create(at, Duration::zero(), false, [this](Timer&) { deadlinesDue(); });
    m_timersMade.fetch_add(1, std::memory_order_relaxed);
    m_loop->addTimer(m_deadlineTimer, RunLoop::defaultMode);
}

void URLSessionEngine::keepSpareDeadline(DeadlineSet::node_type entry) {
    if (entry && m_spareDeadlines.size() < kSpareDeadlines)
        m_spareDeadlines.push_back(std::move(entry));
}

void URLSessionEngine::deadlinesDue() {
    if (m_tornDown)
        return;
    Callout callout(*this);
    MonoTime now = Clock::now();
    while (!m_deadlines.empty() && std::get<0>(*m_deadlines.begin()) <= now) {
        auto entry = m_deadlines.extract(m_deadlines.begin());
        auto [at, id, kind] = entry.value();
        keepSpareDeadline(std::move(entry));
        auto found = m_loads.find(id);
        if (found != m_loads.end() && !found->second->hasEnded())
            found->second->deadlinePassed(kind); // may set a later deadline of its own
    }
    if (m_deadlines.empty())
        m_deadlineTimer = nullptr; // a one-shot timer not re-armed in its block lets itself go
    else
        armDeadlineTimer(std::get<0>(*m_deadlines.begin()));
    flushLoads();
}

void URLSessionEngine::calloutEnded() {
    ++m_callouts; // what runs here is inside a callout too, but must not end one again
    // Before the ended loads go, unless curl has more to do now that may report too: a lone
    // request's completion waits for nothing else.
    if (!m_timeoutDue)
        passReports();
    for (int round = 0; (m_timeoutDue || !m_endedLoads.empty()) && m_multi; ++round) {
        if (round == kImmediateTimeoutsPerCallout) {
            m_timeoutDue = false;
            armTimer(0);
            break;
        }
        if (std::exchange(m_timeoutDue, false)) {
            int running = 0;
            curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
            readCompleted();
            flushLoads();
        }
        std::vector<uint64_t> ended;
        ended.swap(m_endedLoads);
        for (uint64_t id : ended)
            m_loads.erase(id); // a load going may stop a transfer, and curl may ask to run again
        keepRoom(ended, m_endedLoads);
    }
    --m_callouts;
    passReports();
}

void URLSessionEngine::passReports() {
    if (m_reports.empty() || m_reportsQueued)
        return;
    if (m_inSocketPass && m_loads.size() > 1) {
        // Other transfers' sockets may be ready in this pass too: their reports go with these once
        // the pass is over, before the loop waits again (a perform queued from the loop's own thread
        // costs no wake-up).
        m_reportsQueued = m_loop->performBlock([this] {
            m_reportsQueued = false;
            sendReports();
        });
        if (m_reportsQueued)
            return;
    }
    sendReports();
}

void URLSessionEngine::deliver(const URLSessionTaskPtr& task, std::function<void()> block,
                               IfDropped ifDropped) {
    m_reports.push_back({task, task->delivery(), std::move(block), ifDropped});
    if (m_callouts == 0 && !m_reportsQueued)
        sendReports();
}

void URLSessionEngine::sendReports() {
    std::vector<Report> reports;
    reports.swap(m_reports);
    // One post per delivery, its reports in the order they were made; deliveries are few per pass.
    for (size_t first = 0; first < reports.size(); ++first) {
        if (reports[first].sent)
            continue; // sent with an earlier report to the same delivery
        const auto& delivery = reports[first].delivery;
        auto sameDelivery = [&](const Report& other) { return !other.sent && other.delivery == delivery; };
        size_t count = std::count_if(reports.begin() + first, reports.end(), sameDelivery);
        bool posted = false;
        m_deliveryPosts.fetch_add(1, std::memory_order_relaxed);
        if (count == 1) {
            posted = delivery->post(std::move(reports[first].block));
        } else {
            std::vector<std::function<void()>> blocks;
            blocks.reserve(count);
            for (size_t index = first; index < reports.size(); ++index)
                if (sameDelivery(reports[index]))
                    blocks.push_back(std::move(reports[index].block));
            posted = delivery->post([blocks = std::move(blocks)] {
                for (const auto& block : blocks)
                    block();
            });
        }
        for (size_t index = first; index < reports.size(); ++index) {
            if (!sameDelivery(reports[index]))
                continue;
            reports[index].sent = true;
            if (posted)
                continue;
            const auto& task = reports[index].task;
            if (reports[index].ifDropped == IfDropped::CancelLoad)
                cancel(task->taskIdentifier()); // nobody is left to hear about this task
            else
                task->m_session->taskEnded(*task);
        }
    }
    keepRoom(reports, m_reports);
}

int URLSessionEngine::socketCallback(CURL*, curl_socket_t fd, int what, void* engineData, void*) {
    auto* engine = static_cast<URLSessionEngine*>(engineData);
    auto found = engine->m_sockets.find(fd);
    if (what == CURL_POLL_REMOVE) {
        // Curl lets go of a socket whenever its connection goes back to the pool, and takes it up
        // again for the next request on it: the watch stays as it was until the socket closes or stirs
        // while idle, so a reused connection costs no change to the epoll set.
        if (found != engine->m_sockets.end())
            found->second.wanted = RunLoopFdSource::None;
        return 0;
    }
    uint32_t events = RunLoopFdSource::None;
    if (what == CURL_POLL_IN || what == CURL_POLL_INOUT)
        events |= RunLoopFdSource::Read;
    if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT)
        events |= RunLoopFdSource::Write;
    if (found == engine->m_sockets.end()) {
        auto source = RunLoopFdSource::create(
            fd,
            [engine](RunLoopFdSource& source, uint32_t ready) { engine->socketReady(source.fd(), ready); },
            events);
        engine->m_sockets.emplace(fd, SocketWatch{source, events});
        engine->m_socketsWatched.fetch_add(1, std::memory_order_relaxed);
        engine->m_loop->addSource(source, RunLoop::defaultMode);
        return 0;
    }
    SocketWatch& watch = found->second;
    watch.wanted = events;
    uint32_t enabled = watch.source->enabledEvents();
    if (enabled != events)
        engine->m_watchChanges.fetch_add(1, std::memory_order_relaxed);
    if (uint32_t unwanted = enabled & ~events)
        watch.source->disable(unwanted);
    if (uint32_t missing = events & ~enabled)
        watch.source->enable(missing);
    return 0;
}

int URLSessionEngine::closeSocketCallback(void* engineData, curl_socket_t fd) {
    auto* engine = static_cast<URLSessionEngine*>(engineData);
    auto found = engine->m_sockets.find(fd);
    if (found != engine->m_sockets.end()) {
        found->second.source->invalidate(); // out of the epoll set before the number can be reused
        engine->m_sockets.erase(found);
    }
    return ::close(fd);
}

void URLSessionEngine::socketReady(int fd, uint32_t ready) {
    if (m_startsWaiting.load(std::memory_order_relaxed)) {
        // Requests waiting to start go out before the replies ready now are read, as the pass that
        // would take them runs only after this one: the server then has them to work on meanwhile, and
        // they are not put off behind work it has already done.
        Callout callout(*this); // its end sends them
        startWaiting();
    }
    auto found = m_sockets.find(fd);
    if (found == m_sockets.end())
        return;
    if (found->second.wanted == RunLoopFdSource::None) {
        // An idle connection stirred (the server closed it, most likely): curl looks at it again
        // before reusing it, and a level-triggered watch must not keep waking the loop meanwhile.
        found->second.source->disable(RunLoopFdSource::Read | RunLoopFdSource::Write);
        m_watchChanges.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    int mask = 0;
    if (ready & RunLoopFdSource::Read)
        mask |= CURL_CSELECT_IN;
    if (ready & RunLoopFdSource::Write)
        mask |= CURL_CSELECT_OUT;
    m_inSocketPass = true;
    socketAction(fd, mask);
    m_inSocketPass = false;
}

int URLSessionEngine::timerCallback(CURLM*, long timeoutMs, void* engineData) {
    auto* engine = static_cast<URLSessionEngine*>(engineData);
    if (timeoutMs == 0 && engine->m_callouts > 0) {
        // Curl wants to run now (it does on every new transfer): once the callout ends, not after a
        // timer's trip through the kernel and the run loop.
        engine->m_timeoutDue = true;
        return 0;
    }
    engine->m_timeoutDue = false;
    engine->armTimer(timeoutMs);
    return 0;
}

void URLSessionEngine::armTimer(long timeoutMs) {
    if (timeoutMs < 0 && !m_timerArmed)
        return;
    m_timerArmed = timeoutMs >= 0;
    itimerspec setting{};
    if (timeoutMs >= 0) {
        // Zero would disarm a timerfd; "now" is the shortest time it can wait.
        long nanoseconds = timeoutMs == 0 ? 1 : (timeoutMs % 1000) * 1000000L;
        setting.it_value.tv_sec = timeoutMs / 1000;
        setting.it_value.tv_nsec = nanoseconds;
    }
    timerfd_settime(m_timerFd, 0, &setting, nullptr);
}

void URLSessionEngine::socketAction(int fd, int mask) {
    if (!m_multi)
        return;
    Callout callout(*this);
    int running = 0;
    curl_multi_socket_action(m_multi, fd, mask, &running);
    readCompleted();
    flushLoads();
}

void URLSessionEngine::readCompleted() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* easy = message->easy_handle;
        CURLcode result = message->data.result;
        URLSessionLoad* load = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &load);
        if (load)
            load->transferDone(result);
        else
            curl_multi_remove_handle(m_multi, easy);
    }
}

void URLSessionEngine::flushSoon(uint64_t taskIdentifier) {
    m_unflushedLoads.push_back(taskIdentifier);
}

void URLSessionEngine::flushLoads() {
    // Only the loads that took body bytes since the last flush: a pass over every load after every
    // socket event would cost a burst of transfers the square of its size.
    for (uint64_t id : std::exchange(m_unflushedLoads, {})) {
        auto found = m_loads.find(id);
        if (found != m_loads.end())
            found->second->flush();
    }
}

} // namespace platform::detail
