#include "devicehost.h"

#include "hostcore.h"

#include <chrono>
#include <future>

namespace host
{

DeviceHost::DeviceHost(HostSettings settings, Handover handover, Notes notes)
    : loop_(std::make_unique<net::EventLoop>()),
      core_(std::make_unique<HostCore>(*loop_, settings, std::move(handover), std::move(notes)))
{
    if (!loop_->error().ok())
        return;
    // The core was made on this thread before the loop first runs, which the
    // loop allows; from now on only the host's thread touches it.
    thread_ = std::thread([this] { static_cast<void>(loop_->run()); });
}

DeviceHost::~DeviceHost()
{
    if (thread_.joinable()) {
        loop_->post([this] {
            core_->shutdown();
            loop_->quit();
        });
        thread_.join();
    }
    core_.reset();
}

const base::Error& DeviceHost::error() const
{
    return loop_->error();
}

template <typename T> T DeviceHost::call(std::function<T()> task, T onTimeout)
{
    if (!thread_.joinable())
        return onTimeout;
    // Shared with the task, which may run after this call gave up waiting.
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    loop_->post([promise, task = std::move(task)] { promise->set_value(task()); });
    if (future.wait_for(std::chrono::milliseconds(kCallWaitMs)) != std::future_status::ready)
        return onTimeout;
    return future.get();
}

base::Result<net::Endpoint> DeviceHost::listen(Protocols protocols, const net::Endpoint& local,
                                               std::shared_ptr<tls::TlsContext> tls)
{
    if (!error().ok())
        return error();
    return call<base::Result<net::Endpoint>>(
        [this, protocols, local, tls = std::move(tls)] {
            return core_->listen(protocols, local, tls);
        },
        base::Error(base::Fault::TimedOut, 0, "listen"));
}

void DeviceHost::stopListening()
{
    static_cast<void>(call<bool>(
        [this] {
            core_->stopListening();
            return true;
        },
        false));
}

void DeviceHost::wantDevice(bool on)
{
    static_cast<void>(call<bool>(
        [this, on] {
            core_->wantDevice(on);
            return true;
        },
        false));
}

bool DeviceHost::takeDevice(std::uint64_t id)
{
    return call<bool>([this, id] { return core_->takeDevice(id); }, false);
}

void DeviceHost::giveBack(std::uint64_t id, int fd)
{
    loop_->post([this, id, fd] { core_->giveBack(id, fd); });
}

void DeviceHost::handedDeviceEnded(std::uint64_t id, DeviceState state, std::string why)
{
    loop_->post(
        [this, id, state, why = std::move(why)] { core_->handedDeviceEnded(id, state, why); });
}

void DeviceHost::send(std::uint64_t id, std::string bytes)
{
    loop_->post([this, id, bytes = std::move(bytes)] { core_->send(id, bytes); });
}

void DeviceHost::close(std::uint64_t id)
{
    loop_->post([this, id] { core_->close(id); });
}

void DeviceHost::closeAll()
{
    static_cast<void>(call<bool>(
        [this] {
            core_->closeAll();
            return true;
        },
        false));
}

void DeviceHost::setRecorder(std::shared_ptr<traffic::RecordSink> recorder)
{
    static_cast<void>(call<bool>(
        [this, recorder] {
            core_->setRecorder(recorder);
            return true;
        },
        false));
}

void DeviceHost::setAnswers(std::vector<check::AnswerRule> rules, std::uint32_t maxPerSecond,
                            protocol::DelimiterMode mode)
{
    // Waited for, so that nothing received after the switch is answered by
    // the rules before it.
    auto shared = std::make_shared<std::vector<check::AnswerRule>>(std::move(rules));
    static_cast<void>(call<bool>(
        [this, shared, maxPerSecond, mode] {
            core_->setAnswers(std::move(*shared), maxPerSecond, mode);
            return true;
        },
        false));
}

HostSnapshot DeviceHost::snapshot() const
{
    return core_->snapshot();
}

} // namespace host
