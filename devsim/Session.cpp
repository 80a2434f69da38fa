#include "Session.h"

#include <cstring>

#include "EmulatorState.h"
#include "SocketLoop.h"
#include "StatePersistence.h"

namespace scoutrix::devsim {

using proto::Type;

// Sends a reply now or after the device's answer delay.
void Session::reply(Conn &c, Type type, uint32_t seq, const std::vector<uint8_t> &payload,
    bool closeAfter)
{
    const Faults &f = m_state.device(c.device).model.spec().faults;
    std::vector<uint8_t> bytes = proto::encodeFrame(type, seq, payload);
    if (c.state == ConnState::Session && !f.malformed.empty()) {
        if (f.malformed == "magic") {
            bytes[0] ^= 0xff;
        } else if (f.malformed == "oversize") {
            bytes.resize(proto::HeaderSize);
            bytes[12] = 0;
            bytes[13] = 0;
            bytes[14] = 0x20; // 2 MiB announced
            bytes[15] = 0;
        } else {
            bytes.resize(proto::HeaderSize + (payload.size() > 2 ? 2 : 0));
            bytes[12] = 100;
            closeAfter = true;
        }
    }
    const uint64_t id = c.id;
    auto deliver = [this, id, closeAfter](const std::vector<uint8_t> &b) {
        const auto it = m_state.conns.find(id);
        if (it == m_state.conns.end())
            return;
        m_loop.queue(*it->second, b);
        if (closeAfter)
            it->second->closeAfterFlush = true;
    };
    if (f.delayMs > 0)
        m_state.after(f.delayMs, [deliver, bytes] { deliver(bytes); });
    else
        deliver(bytes);
}

void Session::refuse(Conn &c, int32_t code, const std::string &why)
{
    ++m_state.stats.refusedFrames;
    m_state.log(m_state.deviceName(c.device) + ": connection from " + c.peer + " dropped: " + why);
    proto::ErrorMessage m { code, why };
    m_loop.queue(c, proto::encodeFrame(Type::Error, 0, proto::encode(m)));
    c.closeAfterFlush = true;
    c.state = ConnState::Closing;
}

void Session::onFrame(Conn &c, proto::Frame &frame)
{
    EmulatedDevice &dev = m_state.device(c.device);
    const Faults &f = dev.model.spec().faults;
    const auto now = net::Clock::now();
    c.lastActivity = now;
    const Type type = Type(frame.type);
    switch (c.state) {
    case ConnState::AwaitHello: {
        proto::LoginHello hello;
        if (type != Type::LoginHello) {
            refuse(c, proto::NotLoggedIn,
                std::string(proto::typeName(frame.type)) + " before login");
            return;
        }
        if (!proto::decode(frame.payload, hello)) {
            refuse(c, proto::ProtocolError, "malformed login hello");
            return;
        }
        if (f.timeout)
            return;
        proto::LoginChallenge ch;
        ch.result = dev.model.admitUser(hello.user, c.peer, m_state.sessionsOf(c.device), now);
        c.user = hello.user;
        std::memcpy(c.clientNonce, hello.clientNonce, proto::NonceSize);
        proto::randomBytes(c.deviceNonce, proto::NonceSize);
        if (ch.result == proto::Ok)
            std::memcpy(ch.deviceNonce, c.deviceNonce, proto::NonceSize);
        c.state = ch.result == proto::Ok ? ConnState::AwaitProof : ConnState::Closing;
        reply(
            c, Type::LoginChallenge, frame.sequence, proto::encode(ch), ch.result != proto::Ok);
        return;
    }
    case ConnState::AwaitProof: {
        if (type != Type::LoginProof || frame.payload.size() != proto::ProofSize) {
            refuse(c, proto::ProtocolError, "login proof expected");
            return;
        }
        std::string password;
        dev.model.passwordOf(c.user, password);
        uint8_t expected[proto::ProofSize];
        proto::clientProof(password, c.user, c.deviceNonce, c.clientNonce, expected);
        proto::LoginResult result;
        // The lock is checked again here: challenges taken before it fell
        // must not be spent as guesses after it.
        if (dev.model.isLocked(c.user, c.peer, now)) {
            result.result = proto::Locked;
        } else if (!proto::proofsEqual(expected, frame.payload.data())) {
            dev.model.wrongPassword(c.user, c.peer, now);
            result.result = proto::WrongPassword;
        } else if (m_state.sessionsOf(c.device) >= dev.model.spec().maxSessions) {
            result.result = proto::InUse;
        } else {
            dev.model.rightPassword(c.user, c.peer);
            result.sessionId = m_state.nextSessionId++;
            const LoginInfo block = dev.model.loginBlock();
            std::memcpy(result.loginBlock, &block, sizeof block);
            proto::deviceProof(
                password, c.user, c.deviceNonce, c.clientNonce, result.deviceProof);
            ++m_state.stats.logins;
        }
        const bool ok = result.result == proto::Ok;
        // The reply goes out before the state changes: broken-reply faults
        // start after the login.
        reply(c, Type::LoginResult, frame.sequence, proto::encode(result), !ok);
        c.state = ok ? ConnState::Session : ConnState::Closing;
        return;
    }
    case ConnState::Closing:
        return;
    case ConnState::Session:
        break;
    }
    if (f.timeout)
        return;
    switch (type) {
    case Type::Logout:
        c.state = ConnState::Closing;
        reply(c, Type::LogoutReply, frame.sequence, proto::encodeResult(proto::Ok), true);
        return;
    case Type::KeepAlive:
        reply(c, Type::KeepAliveReply, frame.sequence, {});
        return;
    case Type::GetConfig: {
        proto::ConfigRequest req;
        if (!proto::decodeGetConfig(frame.payload, req)) {
            refuse(c, proto::ProtocolError, "malformed get configuration");
            return;
        }
        proto::GetConfigReply r;
        r.result = dev.model.getConfig(req.command, req.channel, r.data);
        reply(c, Type::GetConfigReply, frame.sequence, proto::encode(r));
        return;
    }
    case Type::SetConfig: {
        proto::ConfigRequest req;
        if (!proto::decodeSetConfig(frame.payload, req)) {
            refuse(c, proto::ProtocolError, "malformed set configuration");
            return;
        }
        const int32_t r = dev.model.setConfig(req.command, req.channel, req.data);
        if (r == proto::Fail && !dev.model.lastRefusal().empty())
            m_state.log(m_state.deviceName(c.device) + ": command " + std::to_string(req.command)
                + " refused: " + dev.model.lastRefusal());
        if (r == proto::Ok || r == proto::NeedReboot)
            m_persistence.save();
        reply(c, Type::SetConfigReply, frame.sequence, proto::encodeResult(r));
        return;
    }
    case Type::Reboot: {
        reply(c, Type::RebootReply, frame.sequence, proto::encodeResult(proto::Ok));
        const int device = c.device;
        m_state.after(f.delayMs + 20, [this, device] { beginReboot(device); });
        return;
    }
    case Type::UpgradeBegin:
        reply(c, Type::UpgradeReady, frame.sequence,
            proto::Writer().i32(proto::NotSupported).u32(0).take());
        return;
    case Type::StreamStart:
        reply(c, Type::StreamStartReply, frame.sequence,
            proto::Writer().i32(proto::NotSupported).u32(0).take());
        return;
    case Type::UpgradeData:
    case Type::UpgradeCommit:
    case Type::StreamStop:
        reply(c, Type::Error, frame.sequence,
            proto::encode(proto::ErrorMessage { proto::NotSupported, "not supported" }));
        return;
    default:
        refuse(
            c, proto::ProtocolError, std::string("unexpected ") + proto::typeName(frame.type));
        return;
    }
}

void Session::beginReboot(int device)
{
    EmulatedDevice &dev = m_state.device(device);
    m_state.log(m_state.deviceName(device) + ": rebooting");
    dev.rebooting = true;
    m_state.dropConnections(device);
    m_loop.closeListener(device);
    m_state.after(dev.model.spec().rebootMs, [this, device] {
        EmulatedDevice &d2 = m_state.device(device);
        d2.rebooting = false;
        std::string error;
        if (!m_loop.openListener(device, error))
            m_state.log(m_state.deviceName(device) + ": unreachable after reboot: " + error);
    });
}

} // namespace scoutrix::devsim
