// URL loading against a local nginx serving a small file: 1,000 sequential GETs, and rounds of 100
// concurrent ones, through URLSession and through libcurl on the same server (one reused easy handle
// for the sequential run, a multi handle over 100 reused easy handles for the concurrent one, and that
// once more sending the very request URLSession sends, run by curl's own loop and by an epoll loop
// through curl's socket interface). Every run reports server_cpu, the server's CPU
// time over the run's wall time (well under 1 means the single-process server is not what limits the
// figure), and per GET what does not move with the machine's load: this process's context switches
// and CPU time, the network thread's CPU time, the delivery side's CPU time, the network thread's
// start passes, new socket watches and posts to the delivery queue, and curl's allocations served
// with a kept block; beside them, what does move with the load: how long the network thread, the
// delivery side and the benchmark's own thread waited runnable for a core. Curl is set up once for the
// process as the loader sets it up, for the peers too.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/CurlMemory.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionEngine.h"
#include "platform/net/URLSessionLoad.h"
#include "platform/runloop/Thread.h"
#include "tests/peers/NginxProcess.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <curl/curl.h>
#include <deque>
#include <fmt/format.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using namespace platform;
using liveapp::test::NginxProcess;

namespace {

constexpr int kSequential = 1000;
constexpr int kConcurrent = 100;
constexpr size_t kFileSize = 1024;
constexpr std::string_view kNetworkThread = "URLSession netw"; // as the kernel shortens its name
// The dispatch pool's workers, and the plain delivery thread of the hand-off floor: what handing the
// result back costs, spinning workers included.
constexpr std::string_view kDeliveryThreads[] = {"dispatch.worker", "delivery"};

class SmallFileServer {
public:
    SmallFileServer()
        : m_process("nginx-bench")
        , m_port(NginxProcess::freePort("127.0.0.1")) {
        std::filesystem::create_directories(m_process.prefix() / "www");
        std::ofstream(m_process.prefix() / "www" / "small.txt") << std::string(kFileSize, 'x');
        m_process.start(fmt::format(R"(events {{ worker_connections 1024; }}
http {{
    access_log off;
{}
    keepalive_requests 1000000;
    keepalive_timeout 60s;
    server {{
        listen 127.0.0.1:{};
        root {};
    }}
}}
)",
                                    m_process.temporaryPaths(), m_port,
                                    (m_process.prefix() / "www").string()),
                        "127.0.0.1", m_port);
    }

    std::string url() const { return fmt::format("http://127.0.0.1:{}/small.txt", m_port); }

    // User and system time of the server so far, in seconds.
    double cpuSeconds() const {
        std::ifstream in(fmt::format("/proc/{}/stat", m_process.pid()));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        unsigned long long user = 0, system = 0;
        for (int index = 3; fields >> field; ++index) {
            if (index == 14)
                user = std::stoull(field);
            if (index == 15) {
                system = std::stoull(field);
                break;
            }
        }
        return double(user + system) / double(::sysconf(_SC_CLK_TCK));
    }

private:
    NginxProcess m_process;
    uint16_t m_port;
};

// This process's CPU time (every thread's, in seconds) and context switches (voluntary and
// involuntary) so far.
struct ProcessUsage {
    double cpuSeconds{0};
    long switches{0};

    static ProcessUsage now() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
    }
};

// The sum over this process's threads whose name starts with `name` (the network thread, say) of
// what `measure` reads from each thread's /proc directory.
template <class Measure> double sumOverThreads(std::string_view name, Measure measure) {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream commFile(task.path() / "comm");
        std::string comm;
        std::getline(commFile, comm);
        if (comm.starts_with(name))
            total += measure(task.path());
    }
    return total;
}

// A thread's CPU seconds so far.
double cpuSecondsAt(const std::filesystem::path& task) {
    std::ifstream statFile(task / "stat");
    std::string text((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
        if (index >= 14)
            ticks += std::stoull(field);
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

// The seconds a thread has spent runnable but waiting for a core so far (the scheduler's own count,
// in nanoseconds): what a loaded machine adds to each hand-off.
double waitSecondsAt(const std::filesystem::path& task) {
    std::ifstream statFile(task / "schedstat");
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    return statFile >> running >> waiting ? double(waiting) / 1e9 : 0;
}

double ownWaitSeconds() {
    return waitSecondsAt(fmt::format("/proc/self/task/{}", ::gettid()));
}

// With URL_BENCH_ITERATIONS=n each benchmark runs n iterations once, with no trial runs first, so a
// system-call or instruction count of the whole process divides by a known number of GETs (an
// iteration is 1,000 GETs one after another, or a round of 100 at once).
void fixedIterations(benchmark::internal::Benchmark* benchmark) {
    if (const char* fixed = std::getenv("URL_BENCH_ITERATIONS"))
        benchmark->Iterations(std::atoll(fixed));
}

// The same over the delivery side's threads.
template <class Measure> double sumOverDelivery(Measure measure) {
    double total = 0;
    for (auto name : kDeliveryThreads)
        total += sumOverThreads(name, measure);
    return total;
}

// Curl is set up as the loader sets it up, before any peer makes a handle: every benchmark in the
// process then gives curl the same memory functions, whichever runs first.
const bool g_curlSetUp = detail::initializeCurlWithKeptBuffers();

SmallFileServer& server() {
    static SmallFileServer instance;
    return instance;
}

// Reports, when it goes out of scope, the server's share of the run, and per GET this process's
// context switches and CPU time (every thread's, in microseconds), the URL loading network thread's
// CPU time (none for curl's own runs), the delivery side's CPU time (dispatch workers or the floor's
// delivery thread), the network thread's passes that started tasks, the sockets it began to watch and
// its posts of reports to the delivery queue; and how long the network thread, the delivery side and
// the calling thread waited runnable for a core (on a quiet machine near none; on a loaded one, what
// each hand-off adds).
class ServerLoad {
public:
    ServerLoad(benchmark::State& state, int getsPerIteration)
        : m_state(state)
        , m_getsPerIteration(getsPerIteration)
        , m_cpu(server().cpuSeconds())
        , m_usage(ProcessUsage::now())
        , m_networkCpu(sumOverThreads(kNetworkThread, cpuSecondsAt))
        , m_deliveryCpu(sumOverDelivery(cpuSecondsAt))
        , m_networkWait(sumOverThreads(kNetworkThread, waitSecondsAt))
        , m_deliveryWait(sumOverDelivery(waitSecondsAt))
        , m_callerWait(ownWaitSeconds())
        , m_engine(detail::URLSessionEngine::shared().counts())
        , m_curlBlocksReused(detail::curlMemoryCounts().reused)
        , m_start(std::chrono::steady_clock::now()) {}
    ~ServerLoad() {
        std::chrono::duration<double> wall = std::chrono::steady_clock::now() - m_start;
        m_state.counters["server_cpu"] = (server().cpuSeconds() - m_cpu) / wall.count();
        double gets = double(m_state.iterations()) * m_getsPerIteration;
        if (gets > 0) {
            ProcessUsage usage = ProcessUsage::now();
            m_state.counters["cpu_us_per_get"] = (usage.cpuSeconds - m_usage.cpuSeconds) * 1e6 / gets;
            m_state.counters["switches_per_get"] = double(usage.switches - m_usage.switches) / gets;
            m_state.counters["network_us_per_get"] =
                (sumOverThreads(kNetworkThread, cpuSecondsAt) - m_networkCpu) * 1e6 / gets;
            m_state.counters["delivery_us_per_get"] =
                (sumOverDelivery(cpuSecondsAt) - m_deliveryCpu) * 1e6 / gets;
            m_state.counters["network_wait_us_per_get"] =
                (sumOverThreads(kNetworkThread, waitSecondsAt) - m_networkWait) * 1e6 / gets;
            m_state.counters["delivery_wait_us_per_get"] =
                (sumOverDelivery(waitSecondsAt) - m_deliveryWait) * 1e6 / gets;
            m_state.counters["caller_wait_us_per_get"] = (ownWaitSeconds() - m_callerWait) * 1e6 / gets;
            auto engine = detail::URLSessionEngine::shared().counts();
            m_state.counters["start_passes_per_get"] =
                double(engine.startPasses - m_engine.startPasses) / gets;
            m_state.counters["watches_per_get"] =
                double(engine.socketsWatched - m_engine.socketsWatched) / gets;
            m_state.counters["delivery_posts_per_get"] =
                double(engine.deliveryPosts - m_engine.deliveryPosts) / gets;
            m_state.counters["curl_blocks_reused_per_get"] =
                double(detail::curlMemoryCounts().reused - m_curlBlocksReused) / gets;
        }
    }

private:
    benchmark::State& m_state;
    int m_getsPerIteration;
    double m_cpu;
    ProcessUsage m_usage;
    double m_networkCpu;
    double m_deliveryCpu;
    double m_networkWait;
    double m_deliveryWait;
    double m_callerWait;
    detail::URLSessionEngine::Counts m_engine;
    uint64_t m_curlBlocksReused;
    std::chrono::steady_clock::time_point m_start;
};

// Waits for a number of completions, counting the ones that did not bring the whole file.
class Completions {
public:
    void expect(int count) {
        std::lock_guard lock(m_mutex);
        m_outstanding = count;
    }
    void done(bool whole) {
        std::lock_guard lock(m_mutex);
        m_failures += whole ? 0 : 1;
        if (--m_outstanding == 0)
            m_allDone.notify_one();
    }
    // The failures of the round.
    int wait() {
        std::unique_lock lock(m_mutex);
        m_allDone.wait(lock, [&] { return m_outstanding == 0; });
        return std::exchange(m_failures, 0);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_allDone;
    int m_outstanding{0};
    int m_failures{0};
};

// A session without a cache, so every GET goes to the server as curl's do.
const URLSessionPtr& session() {
    static const URLSessionPtr uncached = [] {
        auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
        configuration.setURLCache(nullptr);
        return URLSession::sessionWithConfiguration(configuration);
    }();
    return uncached;
}

void getThroughSession(const URLPtr& url, Completions& completions) {
    session()
        ->dataTaskWithURL(url,
                          [&completions](std::optional<Data> data, URLResponsePtr, ErrorPtr error) {
                              completions.done(!error && data && data->length() == kFileSize);
                          })
        ->resume();
}

// kSequential GETs per iteration, each started by `get` once the one before has completed.
void runSequential(benchmark::State& state, const std::function<void(Completions&)>& get) {
    Completions completions;
    ServerLoad load(state, kSequential);
    for (auto _ : state) {
        int failures = 0;
        for (int i = 0; i < kSequential; ++i) {
            completions.expect(1);
            get(completions);
            failures += completions.wait();
        }
        if (failures)
            state.SkipWithError("a GET failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSequential);
}

void BM_URLSessionSequentialGET(benchmark::State& state) {
    URLPtr url = URL::create(server().url());
    runSequential(state, [&](Completions& completions) { getThroughSession(url, completions); });
}
BENCHMARK(BM_URLSessionSequentialGET)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(fixedIterations);

void BM_URLSessionConcurrentGET(benchmark::State& state) {
    URLPtr url = URL::create(server().url());
    Completions completions;
    ServerLoad load(state, kConcurrent);
    for (auto _ : state) {
        completions.expect(kConcurrent);
        for (int i = 0; i < kConcurrent; ++i)
            getThroughSession(url, completions);
        if (completions.wait())
            state.SkipWithError("a GET failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kConcurrent);
}
BENCHMARK(BM_URLSessionConcurrentGET)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(fixedIterations);

size_t countBody(char*, size_t size, size_t count, void* received) {
    *static_cast<size_t*>(received) += size * count;
    return size * count;
}

// What a GET sends: curl's own request, or the one URLSession sends (its header lines, and every
// encoding curl decodes accepted), so a peer can be given the same bytes to format and send.
enum class Request { CurlDefault, SameAsURLSession };

struct EasyTransfer {
    CURL* easy{curl_easy_init()};
    size_t received{0};

    explicit EasyTransfer(const std::string& url, Request request = Request::CurlDefault) {
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &countBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        if (request == Request::SameAsURLSession) {
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, detail::URLSessionLoad::plainHeaderLines());
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        }
    }
    ~EasyTransfer() { curl_easy_cleanup(easy); }
    EasyTransfer(const EasyTransfer&) = delete;
    EasyTransfer& operator=(const EasyTransfer&) = delete;
};

void BM_CurlEasySequentialGET(benchmark::State& state) {
    EasyTransfer transfer(server().url());
    ServerLoad load(state, kSequential);
    for (auto _ : state) {
        int failures = 0;
        for (int i = 0; i < kSequential; ++i) {
            transfer.received = 0;
            failures += curl_easy_perform(transfer.easy) != CURLE_OK || transfer.received != kFileSize;
        }
        if (failures)
            state.SkipWithError("a GET failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kSequential);
}
BENCHMARK(BM_CurlEasySequentialGET)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(fixedIterations);

// A mailbox one thread waits on: what a request costs in hand-offs alone.
class Mailbox {
public:
    void post(std::function<void()> work) {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
        m_ready.notify_one();
    }
    // Runs posted work until an empty function arrives.
    void run() {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [&] { return !m_work.empty(); });
            auto work = std::move(m_work.front());
            m_work.pop_front();
            lock.unlock();
            if (!work)
                return;
            work();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_work;
};

// The floor of any loader that keeps its own network thread and reports on a queue of the caller's:
// the reused easy handle, run on a network thread, its result handed to a delivery thread that
// wakes the caller (three hand-offs per request, as URLSession has).
void BM_CurlEasyThroughThreeHandOffsSequentialGET(benchmark::State& state) {
    EasyTransfer transfer(server().url());
    Mailbox network, delivery;
    std::thread networkThread([&] {
        ::pthread_setname_np(::pthread_self(), kNetworkThread.data()); // its CPU time is reported too
        network.run();
    });
    std::thread deliveryThread([&] {
        ::pthread_setname_np(::pthread_self(), kDeliveryThreads[1].data());
        delivery.run();
    });
    runSequential(state, [&](Completions& completions) {
        network.post([&] {
            transfer.received = 0;
            bool whole = curl_easy_perform(transfer.easy) == CURLE_OK && transfer.received == kFileSize;
            delivery.post([&completions, whole] { completions.done(whole); });
        });
    });
    network.post(nullptr);
    delivery.post(nullptr);
    networkThread.join();
    deliveryThread.join();
}
BENCHMARK(BM_CurlEasyThroughThreeHandOffsSequentialGET)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(fixedIterations);

// The same three hand-offs through the platform's own primitives, as URLSession makes them: the
// network thread a platform thread woken through its run loop, delivery on a serial dispatch queue.
// What URLSession costs beyond this is its own work per request.
void BM_CurlEasyThroughPlatformHandOffsSequentialGET(benchmark::State& state) {
    EasyTransfer transfer(server().url());
    auto network = Thread::create(std::string(kNetworkThread));
    network->start();
    auto delivery = DispatchQueue::create("delivery", DispatchQueueAttr::Serial);
    runSequential(state, [&](Completions& completions) {
        network->perform([&] {
            transfer.received = 0;
            bool whole = curl_easy_perform(transfer.easy) == CURLE_OK && transfer.received == kFileSize;
            delivery->async([&completions, whole] { completions.done(whole); });
        });
    });
    network->cancel();
    network->join();
}
BENCHMARK(BM_CurlEasyThroughPlatformHandOffsSequentialGET)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(fixedIterations);

// The kConcurrent reused transfers of a round, each with its count of bytes received as its private
// pointer, for the round to read when it ends.
std::vector<std::unique_ptr<EasyTransfer>> roundTransfers(Request request) {
    std::vector<std::unique_ptr<EasyTransfer>> transfers;
    for (int i = 0; i < kConcurrent; ++i) {
        transfers.push_back(std::make_unique<EasyTransfer>(server().url(), request));
        curl_easy_setopt(transfers.back()->easy, CURLOPT_PRIVATE, &transfers.back()->received);
    }
    return transfers;
}

// Hands `each` every transfer of a round's that has ended, and whether it brought the whole file.
template <typename Each> void forEachEnded(CURLM* multi, Each each) {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        size_t* received = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &received);
        each(message->easy_handle, message->data.result == CURLE_OK && *received == kFileSize);
    }
}

// Rounds of kConcurrent GETs on one multi handle over reused easy handles, run as curl's own loop runs
// them.
class MultiRounds {
public:
    explicit MultiRounds(Request request = Request::CurlDefault)
        : m_transfers(roundTransfers(request)) {}
    ~MultiRounds() { curl_multi_cleanup(m_multi); }
    MultiRounds(const MultiRounds&) = delete;
    MultiRounds& operator=(const MultiRounds&) = delete;

    // Runs one round, handing `ended`, after each pass that ended transfers, whether each of them
    // brought the whole file.
    void run(const std::function<void(std::vector<bool>)>& ended) {
        for (auto& transfer : m_transfers) {
            transfer->received = 0;
            curl_multi_add_handle(m_multi, transfer->easy);
        }
        int running = kConcurrent;
        while (running > 0) {
            curl_multi_perform(m_multi, &running);
            std::vector<bool> whole;
            forEachEnded(m_multi, [&](CURL*, bool brought) { whole.push_back(brought); });
            if (!whole.empty())
                ended(std::move(whole));
            if (running > 0)
                curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
        }
        for (auto& transfer : m_transfers)
            curl_multi_remove_handle(m_multi, transfer->easy);
    }

private:
    std::vector<std::unique_ptr<EasyTransfer>> m_transfers;
    CURLM* m_multi{curl_multi_init()};
};

void runMultiRounds(benchmark::State& state, Request request) {
    MultiRounds rounds(request);
    ServerLoad load(state, kConcurrent);
    for (auto _ : state) {
        int failures = 0;
        rounds.run(
            [&](std::vector<bool> whole) { failures += int(std::count(whole.begin(), whole.end(), false)); });
        if (failures)
            state.SkipWithError("a GET failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kConcurrent);
}

void BM_CurlMultiConcurrentGET(benchmark::State& state) {
    runMultiRounds(state, Request::CurlDefault);
}
BENCHMARK(BM_CurlMultiConcurrentGET)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(fixedIterations);

// The same rounds sending the very request URLSession sends: what is left of the gap is the loader's
// own cost, not the bytes it must format and send.
void BM_CurlMultiSameRequestConcurrentGET(benchmark::State& state) {
    runMultiRounds(state, Request::SameAsURLSession);
}
BENCHMARK(BM_CurlMultiSameRequestConcurrentGET)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(fixedIterations);

// The same rounds, sending the request URLSession sends, driven as an event loop drives curl: its
// socket interface over a plain epoll set, one call per ready socket and one per due timer, on the
// caller's thread. What curl costs when a run loop drives it, before any loader's own work: the
// floor of a loader that runs its transfers on a run loop beside its other sources.
class SocketActionRounds {
public:
    explicit SocketActionRounds(Request request)
        : m_transfers(roundTransfers(request))
        , m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &SocketActionRounds::socketCallback);
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &SocketActionRounds::timerCallback);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, 128L);
        for (auto& transfer : m_transfers) {
            curl_easy_setopt(transfer->easy, CURLOPT_CLOSESOCKETFUNCTION, &SocketActionRounds::closeSocket);
            curl_easy_setopt(transfer->easy, CURLOPT_CLOSESOCKETDATA, this);
        }
    }
    ~SocketActionRounds() {
        curl_multi_cleanup(m_multi);
        ::close(m_epoll);
    }
    SocketActionRounds(const SocketActionRounds&) = delete;
    SocketActionRounds& operator=(const SocketActionRounds&) = delete;

    bool ready() const { return m_epoll >= 0; }

    // Runs one round; the count of transfers that did not bring the whole file.
    int run() {
        for (auto& transfer : m_transfers) {
            transfer->received = 0;
            curl_multi_add_handle(m_multi, transfer->easy);
        }
        int failures = 0;
        int done = 0;
        int running = 0;
        auto collect = [&] {
            forEachEnded(m_multi, [&](CURL* easy, bool brought) {
                failures += !brought;
                curl_multi_remove_handle(m_multi, easy);
                ++done;
            });
        };
        while (done < kConcurrent) {
            // A timer due now runs without a look at the sockets first, as one that expired does.
            epoll_event events[64];
            int count = m_timeoutMs == 0
                            ? 0
                            : ::epoll_wait(m_epoll, events, 64, m_timeoutMs < 0 ? 1000 : int(m_timeoutMs));
            if (count <= 0) {
                m_timeoutMs = -1;
                curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
            }
            for (int i = 0; i < count; ++i) {
                if (idle(events[i].data.fd))
                    continue;
                int mask = (events[i].events & EPOLLIN ? int(CURL_CSELECT_IN) : 0) |
                           (events[i].events & EPOLLOUT ? int(CURL_CSELECT_OUT) : 0) |
                           (events[i].events & (EPOLLERR | EPOLLHUP) ? int(CURL_CSELECT_ERR) : 0);
                curl_multi_socket_action(m_multi, events[i].data.fd, mask, &running);
            }
            collect();
        }
        return failures;
    }

private:
    // A socket stays in the epoll set while curl lets go of it between requests (it takes it up again
    // for the next one on that connection), as a run loop's watch stays: interest changes only when
    // curl asks for other events, or when an idle socket stirs.
    static int socketCallback(CURL*, curl_socket_t fd, int what, void* self, void*) {
        auto& watched = static_cast<SocketActionRounds*>(self)->m_watched;
        if (what == CURL_POLL_REMOVE) {
            if (auto found = watched.find(fd); found != watched.end())
                found->second.wanted = 0;
            return 0;
        }
        uint32_t events =
            (what & CURL_POLL_IN ? uint32_t(EPOLLIN) : 0) | (what & CURL_POLL_OUT ? uint32_t(EPOLLOUT) : 0);
        auto [found, added] = watched.try_emplace(fd, Watch{events, events});
        found->second.wanted = events;
        if (added || found->second.registered != events)
            static_cast<SocketActionRounds*>(self)->registerInterest(fd, events);
        found->second.registered = events;
        return 0;
    }
    void registerInterest(int fd, uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) != 0 && errno == ENOENT)
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }
    // An event for a socket curl let go of: an idle connection stirred, and stops being watched.
    bool idle(int fd) {
        auto found = m_watched.find(fd);
        if (found == m_watched.end() || found->second.wanted != 0)
            return false;
        if (found->second.registered != 0)
            registerInterest(fd, 0);
        found->second.registered = 0;
        return true;
    }
    // A closed socket's watch goes with it: the kernel has dropped it from the epoll set, and a new
    // socket given the same number must be added anew.
    static int closeSocket(void* self, curl_socket_t fd) {
        static_cast<SocketActionRounds*>(self)->m_watched.erase(fd);
        return ::close(fd);
    }
    static int timerCallback(CURLM*, long timeoutMs, void* self) {
        static_cast<SocketActionRounds*>(self)->m_timeoutMs = timeoutMs;
        return 0;
    }

    struct Watch {
        uint32_t wanted;
        uint32_t registered;
    };
    std::vector<std::unique_ptr<EasyTransfer>> m_transfers;
    CURLM* m_multi{curl_multi_init()};
    int m_epoll;
    long m_timeoutMs{-1};
    std::unordered_map<int, Watch> m_watched;
};

void BM_CurlMultiSocketSameRequestConcurrentGET(benchmark::State& state) {
    SocketActionRounds rounds(Request::SameAsURLSession);
    if (!rounds.ready()) {
        state.SkipWithError("no epoll set could be made");
        return;
    }
    ServerLoad load(state, kConcurrent);
    for (auto _ : state)
        if (rounds.run())
            state.SkipWithError("a GET failed");
    state.SetItemsProcessed(int64_t(state.iterations()) * kConcurrent);
}
BENCHMARK(BM_CurlMultiSocketSameRequestConcurrentGET)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(fixedIterations);

// The floor of the concurrent rounds for any loader that keeps its own network thread and reports on a
// queue of the caller's, at the fewest hand-offs it can make: the caller hands the whole round to the
// network thread at once, which runs it as the plain run above does and hands each pass's ended
// transfers to a delivery thread in one post; the delivery thread wakes the caller once the round is
// done.
void BM_CurlMultiThroughThreeHandOffsConcurrentGET(benchmark::State& state) {
    MultiRounds rounds;
    Mailbox network, delivery;
    std::thread networkThread([&] {
        ::pthread_setname_np(::pthread_self(), kNetworkThread.data());
        network.run();
    });
    std::thread deliveryThread([&] {
        ::pthread_setname_np(::pthread_self(), kDeliveryThreads[1].data());
        delivery.run();
    });
    Completions completions;
    auto deliver = [&](std::vector<bool> whole) {
        delivery.post([&completions, whole = std::move(whole)] {
            for (bool each : whole)
                completions.done(each);
        });
    };
    {
        ServerLoad load(state, kConcurrent);
        for (auto _ : state) {
            completions.expect(kConcurrent);
            network.post([&] { rounds.run(deliver); });
            if (completions.wait())
                state.SkipWithError("a GET failed");
        }
    }
    network.post(nullptr);
    delivery.post(nullptr);
    networkThread.join();
    deliveryThread.join();
    state.SetItemsProcessed(int64_t(state.iterations()) * kConcurrent);
}
BENCHMARK(BM_CurlMultiThroughThreeHandOffsConcurrentGET)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(fixedIterations);

} // namespace

BENCHMARK_MAIN();
