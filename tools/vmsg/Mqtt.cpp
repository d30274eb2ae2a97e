// MQTT endpoints through libmosquitto: one block per MQTT message, sent
// with QoS 1 (acknowledged by the broker) and subscribed to with QoS 1.
#include "Errors.h"
#include "Transport.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <deque>

namespace vmsgtool {

namespace {

// How long the broker may take to accept a connection, a subscription or
// the last publication.
constexpr std::chrono::seconds kBrokerWait{10};

// One client connected to the broker: the library's set-up, the
// connection, and the callbacks' results.
class Client {
public:
    explicit Client(const Endpoint& endpoint) : mText(endpoint.text)
    {
        mosquitto_lib_init();
        mClient = mosquitto_new(nullptr, true, this);
        if (!mClient) {
            mosquitto_lib_cleanup();
            throw UsageError(mText + ": cannot create an MQTT client: " + std::strerror(errno));
        }
        mosquitto_connect_callback_set(mClient, [](mosquitto*, void* self, int status) {
            static_cast<Client*>(self)->mConnack = status;
        });
        mosquitto_subscribe_callback_set(mClient, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Client*>(self)->mSubscribed = true;
        });
        mosquitto_publish_callback_set(mClient, [](mosquitto*, void* self, int) {
            ++static_cast<Client*>(self)->mAcknowledged;
        });
        mosquitto_message_callback_set(mClient, [](mosquitto*, void* self, const mosquitto_message* message) {
            const auto* bytes = static_cast<const unsigned char*>(message->payload);
            static_cast<Client*>(self)->mMessages.push_back(
                {std::vector<unsigned char>(bytes, bytes + message->payloadlen), std::string("mqtt ") + message->topic});
        });
        const int status = mosquitto_connect(mClient, endpoint.host.c_str(), endpoint.port, 30);
        if (status != MOSQ_ERR_SUCCESS) {
            const std::string why = status == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(status);
            release();
            throw UsageError(mText + ": cannot connect: " + why);
        }
        waitFor([this] { return mConnack >= 0; }, "the broker's answer to the connection");
        if (mConnack != 0) {
            const std::string why = mosquitto_connack_string(mConnack);
            release();
            throw UsageError(mText + ": the broker refused the connection: " + why);
        }
    }
    ~Client() { release(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Runs the client until @p done holds; the wait is bounded.
    template <typename Done>
    void waitFor(Done done, const char* what)
    {
        const auto deadline = Clock::now() + kBrokerWait;
        while (!done()) {
            if (Clock::now() >= deadline) {
                release();
                throw UsageError(mText + ": no answer from the broker within " +
                                 std::to_string(kBrokerWait.count()) + " s (" + what + ")");
            }
            step(200);
        }
    }

    // Runs the client for at most @p milliseconds.
    void step(int milliseconds)
    {
        const int status = mosquitto_loop(mClient, milliseconds, 1);
        if (status != MOSQ_ERR_SUCCESS) {
            const std::string why = status == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(status);
            release();
            throw UsageError(mText + ": lost the broker: " + why);
        }
    }

    mosquitto* get() { return mClient; }
    const std::string& text() const { return mText; }

    int mConnack = -1;
    bool mSubscribed = false;
    std::size_t mAcknowledged = 0;
    std::deque<Block> mMessages;

private:
    void release()
    {
        if (!mClient)
            return;
        mosquitto_disconnect(mClient);
        mosquitto_destroy(mClient);
        mosquitto_lib_cleanup();
        mClient = nullptr;
    }

    std::string mText;
    mosquitto* mClient = nullptr;
};

class MqttSender : public Sender {
public:
    explicit MqttSender(const Endpoint& endpoint) : mTopic(endpoint.topic)
    {
        if (mosquitto_pub_topic_check(mTopic.c_str()) != MOSQ_ERR_SUCCESS)
            throw UsageError(endpoint.text + ": '" + mTopic + "' is not a topic to publish to (no + or #)");
        mClient = std::make_unique<Client>(endpoint);
    }

    void send(const Block& block) override
    {
        const int status = mosquitto_publish(mClient->get(), nullptr, mTopic.c_str(),
                                             static_cast<int>(block.bytes.size()), block.bytes.data(), 1, false);
        if (status == MOSQ_ERR_PAYLOAD_SIZE)
            throw BlockError(block.where + ": too large for an MQTT message");
        if (status != MOSQ_ERR_SUCCESS)
            throw UsageError(mClient->text() + ": cannot publish: " + mosquitto_strerror(status));
        ++mPublished;
        mClient->step(0);
    }

    void finish() override
    {
        mClient->waitFor([this] { return mClient->mAcknowledged >= mPublished; },
                         "the acknowledgement of every block");
    }

private:
    std::string mTopic;
    std::unique_ptr<Client> mClient;
    std::size_t mPublished = 0;
};

class MqttReceiver : public Receiver {
public:
    explicit MqttReceiver(const Endpoint& endpoint)
        : mAddress("mqtt://" + (endpoint.host.find(':') != std::string::npos ? "[" + endpoint.host + "]"
                                                                               : endpoint.host) +
                   ":" + std::to_string(endpoint.port) + "/" + endpoint.topic)
    {
        if (mosquitto_sub_topic_check(endpoint.topic.c_str()) != MOSQ_ERR_SUCCESS)
            throw UsageError(endpoint.text + ": '" + endpoint.topic + "' is not a topic filter");
        mClient = std::make_unique<Client>(endpoint);
        const int status = mosquitto_subscribe(mClient->get(), nullptr, endpoint.topic.c_str(), 1);
        if (status != MOSQ_ERR_SUCCESS)
            throw UsageError(endpoint.text + ": cannot subscribe: " + mosquitto_strerror(status));
        mClient->waitFor([this] { return mClient->mSubscribed; }, "the subscription");
    }

    Receipt next(Block& block, Clock::time_point deadline) override
    {
        while (mClient->mMessages.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (deadline != Clock::time_point::max() && left <= 0)
                return Receipt::TimedOut;
            mClient->step(deadline == Clock::time_point::max() ? 1000 : static_cast<int>(std::min<long long>(left, 1000)));
        }
        block = std::move(mClient->mMessages.front());
        mClient->mMessages.pop_front();
        return Receipt::Block;
    }

    std::string address() const override { return mAddress; }

private:
    std::string mAddress;
    std::unique_ptr<Client> mClient;
};

} // namespace

std::unique_ptr<Sender> openMqttSender(const Endpoint& endpoint)
{
    return std::make_unique<MqttSender>(endpoint);
}

std::unique_ptr<Receiver> openMqttReceiver(const Endpoint& endpoint)
{
    return std::make_unique<MqttReceiver>(endpoint);
}

} // namespace vmsgtool
