#pragma once
// Both ends of the login, by hand, for tests that play a client or a device
// the SDK and the emulator would not: a raw client that stops between steps,
// and a stand-in device that answers with a chosen password.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

#include "Net.h"
#include "Pake.h"
#include "Protocol.h"
#include "SessionCrypto.h"

namespace scoutrix::testpeers {

namespace pake = proto::pake;
namespace sealing = proto::session;

inline bool sendAll(int fd, const std::vector<uint8_t> &bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

inline bool nextFrame(int fd, proto::FrameAssembler &assembler, proto::Frame &f, int ms = 5000)
{
    const auto deadline = net::Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto st = assembler.next(f);
        if (st == proto::FrameAssembler::Status::Frame)
            return true;
        if (st == proto::FrameAssembler::Status::Error)
            return false;
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, net::remainingMs(deadline)) <= 0)
            return false;
        uint8_t buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        assembler.feed(buf, std::size_t(n));
    }
}

// The client's side, one step at a time, over a connected socket.
struct ClientSteps
{
    std::vector<uint8_t> helloPayload;
    std::vector<uint8_t> paramsPayload;
    pake::Params2 params;
    std::unique_ptr<sealing::FrameSealer> sealer;
    std::unique_ptr<sealing::FrameOpener> opener;
    // Every frame that crossed the wire, both ways, as a listener saw them.
    std::vector<std::vector<uint8_t>> transcript;

    int32_t hello(int fd, proto::FrameAssembler &in, const std::string &user)
    {
        pake::Hello2 h;
        h.user = user;
        helloPayload = pake::encode(h);
        proto::Frame f;
        if (!send(fd, proto::Type::LoginHello, 1, helloPayload) || !receive(fd, in, f)
            || !pake::decode(f.payload, params))
            return INT32_MIN;
        paramsPayload = f.payload;
        return params.result;
    }

    // Share, then the confirmation when the device's matched: the device's
    // verdict on one guess (a mismatch found by the client is -11301 too).
    int32_t guess(int fd, proto::FrameAssembler &in, const std::string &user,
        const std::string &password)
    {
        pake::ProverSecret secret;
        if (pake::deriveSecret(password, user, {}, params.salt, params.kdf, secret)
            != pake::Error::None)
            return INT32_MIN;
        pake::PakeClient client(
            pake::Identities { pake::loginContext(helloPayload, paramsPayload), user, {} });
        pake::Share2 share;
        client.start(secret, share.shareP);
        proto::Frame f;
        pake::Reply2 reply;
        if (!send(fd, proto::Type::LoginShare, 2, pake::encode(share)) || !receive(fd, in, f)
            || !pake::decode(f.payload, reply))
            return INT32_MIN;
        if (reply.result != proto::Ok)
            return reply.result;
        pake::Confirm2 confirm;
        pake::SharedKey key;
        const pake::Error e = client.finish(reply.shareV, reply.confirmV, confirm.confirmP, key);
        if (e == pake::Error::ConfirmationMismatch)
            return proto::WrongPassword;
        sealing::SessionKeys keys;
        if (e != pake::Error::None || !sealing::deriveSessionKeys(key, keys))
            return INT32_MIN;
        sealer = std::make_unique<sealing::FrameSealer>(keys.clientToDevice);
        opener = std::make_unique<sealing::FrameOpener>(keys.deviceToClient);
        proto::LoginResult result;
        if (!send(fd, proto::Type::LoginConfirm, 3, pake::encode(confirm)) || !receive(fd, in, f)
            || f.type != uint8_t(proto::Type::LoginResult)
            || sealing::openFrame(*opener, f) != sealing::SealError::None
            || !proto::decode(f.payload, result))
            return INT32_MIN;
        return result.result;
    }

    std::vector<uint8_t> sealed(proto::Type type, uint32_t seq, const std::vector<uint8_t> &payload)
    {
        std::vector<uint8_t> frame;
        sealing::sealFrame(*sealer, type, seq, payload, frame);
        return frame;
    }

    bool send(int fd, proto::Type type, uint32_t seq, const std::vector<uint8_t> &payload)
    {
        const auto frame = proto::encodeFrame(type, seq, payload);
        transcript.push_back(frame);
        return sendAll(fd, frame);
    }
    bool receive(int fd, proto::FrameAssembler &in, proto::Frame &f)
    {
        if (!nextFrame(fd, in, f))
            return false;
        std::vector<uint8_t> bytes(f.header, f.header + proto::HeaderSize);
        bytes.insert(bytes.end(), f.payload.begin(), f.payload.end());
        transcript.push_back(bytes);
        return true;
    }
};

// The device's side for a stand-in device: one user, one password, no lockout.
class DeviceSteps
{
public:
    DeviceSteps(const std::string &user, const std::string &password)
    {
        pake::registerPassword(password, user, {}, pake::KdfParams(), m_record);
    }

    bool loggedIn() const { return m_opener != nullptr; }

    // The answer to one frame of the login, or empty when there is none.
    std::vector<uint8_t> answer(const proto::Frame &f)
    {
        if (f.type == uint8_t(proto::Type::LoginHello)) {
            pake::Hello2 hello;
            if (!pake::decode(f.payload, hello))
                return {};
            pake::Params2 params;
            params.salt = m_record.salt;
            params.kdf = m_record.kdf;
            const auto payload = pake::encode(params);
            m_device = std::make_unique<pake::PakeDevice>(
                pake::Identities { pake::loginContext(f.payload, payload), hello.user, {} });
            return proto::encodeFrame(proto::Type::LoginParams, f.sequence, payload);
        }
        pake::Share2 share;
        if (f.type == uint8_t(proto::Type::LoginShare) && m_device
            && pake::decode(f.payload, share)) {
            pake::Reply2 reply;
            if (m_device->respond(m_record, share.shareP, reply.shareV, reply.confirmV)
                != pake::Error::None)
                reply.result = proto::ProtocolError;
            return proto::encodeFrame(proto::Type::LoginReply, f.sequence, pake::encode(reply));
        }
        pake::Confirm2 confirm;
        pake::SharedKey key;
        sealing::SessionKeys keys;
        if (f.type == uint8_t(proto::Type::LoginConfirm) && m_device
            && pake::decode(f.payload, confirm)
            && m_device->finish(confirm.confirmP, key) == pake::Error::None
            && sealing::deriveSessionKeys(key, keys)) {
            m_sealer = std::make_unique<sealing::FrameSealer>(keys.deviceToClient);
            m_opener = std::make_unique<sealing::FrameOpener>(keys.clientToDevice);
            proto::LoginResult result;
            result.sessionId = 1;
            return sealed(proto::Type::LoginResult, f.sequence, proto::encode(result));
        }
        return {};
    }

    bool open(proto::Frame &f)
    {
        return m_opener && sealing::openFrame(*m_opener, f) == sealing::SealError::None;
    }
    std::vector<uint8_t> sealed(proto::Type type, uint32_t seq, const std::vector<uint8_t> &payload)
    {
        std::vector<uint8_t> frame;
        sealing::sealFrame(*m_sealer, type, seq, payload, frame);
        return frame;
    }

private:
    pake::VerifierRecord m_record;
    std::unique_ptr<pake::PakeDevice> m_device;
    std::unique_ptr<sealing::FrameSealer> m_sealer;
    std::unique_ptr<sealing::FrameOpener> m_opener;
};

} // namespace scoutrix::testpeers
