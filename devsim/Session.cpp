#include "Session.h"

#include <cstring>

#include <openssl/crypto.h>

#include "EmulatorState.h"
#include "SocketLoop.h"
#include "StatePersistence.h"

namespace scoutrix::devsim {

using proto::Type;
namespace pake = proto::pake;

// Sends a reply now or after the device's answer delay. A sealed reply is
// sealed when it goes out, so the counter follows the order on the wire.
void Session::reply(Conn &c, Type type, uint32_t seq, const std::vector<uint8_t> &payload,
    bool closeAfter)
{
    const Faults &f = m_state.device(c.device).model.spec().faults;
    const std::string malformed = c.state == ConnState::Session ? f.malformed : std::string();
    const bool sealed = c.sealer != nullptr;
    const uint64_t id = c.id;
    auto deliver = [this, id, type, seq, payload, closeAfter, malformed, sealed]() {
        const auto it = m_state.conns.find(id);
        if (it == m_state.conns.end())
            return;
        Conn &conn = *it->second;
        bool close = closeAfter;
        std::vector<uint8_t> bytes;
        if (!sealed) {
            bytes = proto::encodeFrame(type, seq, payload);
        } else if (!conn.sealer) {
            return; // the session's key was given up meanwhile
        } else if (proto::session::sealFrame(*conn.sealer, type, seq, payload, bytes)
            != proto::session::SealError::None) {
            drop(conn, "session key exhausted");
            return;
        }
        if (malformed == "magic") {
            bytes[0] ^= 0xff;
        } else if (malformed == "oversize") {
            bytes.resize(proto::HeaderSize);
            bytes[12] = 0;
            bytes[13] = 0;
            bytes[14] = 0x20; // 2 MiB announced
            bytes[15] = 0;
        } else if (!malformed.empty()) {
            bytes.resize(proto::HeaderSize + (payload.size() > 2 ? 2 : 0));
            bytes[12] = 100;
            close = true;
        }
        m_loop.queue(conn, bytes);
        if (close)
            conn.closeAfterFlush = true;
    };
    if (f.delayMs > 0)
        m_state.after(f.delayMs, deliver);
    else
        deliver();
}

void Session::refuse(Conn &c, int32_t code, const std::string &why)
{
    proto::ErrorMessage m { code, why };
    std::vector<uint8_t> frame;
    if (!c.sealer)
        frame = proto::encodeFrame(Type::Error, 0, proto::encode(m));
    else
        proto::session::sealFrame(*c.sealer, Type::Error, 0, proto::encode(m), frame);
    if (!frame.empty())
        m_loop.queue(c, frame);
    drop(c, why);
}

void Session::drop(Conn &c, const std::string &why)
{
    ++m_state.stats.refusedFrames;
    m_state.log(m_state.deviceName(c.device) + ": connection from " + c.peer + " dropped: " + why);
    c.closeAfterFlush = true;
    c.state = ConnState::Closing;
}

void Session::onFrame(Conn &c, proto::Frame &frame)
{
    EmulatedDevice &dev = m_state.device(c.device);
    const Faults &f = dev.model.spec().faults;
    const auto now = net::Clock::now();
    c.lastActivity = now;
    if (c.state != ConnState::Session && c.state != ConnState::Closing
        && frame.version != proto::Version) {
        refuse(c, proto::ProtocolError, "sealed frame before login");
        return;
    }
    const Type type = Type(frame.type);
    switch (c.state) {
    case ConnState::AwaitHello: {
        if (type != Type::LoginHello) {
            refuse(c, proto::NotLoggedIn,
                std::string(proto::typeName(frame.type)) + " before login");
            return;
        }
        pake::Hello2 hello;
        if (!pake::decode(frame.payload, hello)) {
            refuse(c, proto::ProtocolError, "malformed login hello");
            return;
        }
        if (f.timeout)
            return;
        pake::Params2 params;
        params.result = dev.model.admitUser(hello.user, c.peer, m_state.sessionsOf(c.device), now);
        const pake::VerifierRecord *record = dev.model.verifierOf(hello.user);
        if (params.result == proto::Ok && record) {
            params.salt = record->salt;
            params.kdf = record->kdf;
        }
        const std::vector<uint8_t> paramsPayload = pake::encode(params);
        c.user = hello.user;
        c.loginContext = pake::loginContext(frame.payload, paramsPayload);
        c.state = params.result == proto::Ok ? ConnState::AwaitShare : ConnState::Closing;
        reply(c, Type::LoginParams, frame.sequence, paramsPayload, params.result != proto::Ok);
        return;
    }
    case ConnState::AwaitShare: {
        pake::Share2 share;
        if (type != Type::LoginShare || !pake::decode(frame.payload, share)) {
            refuse(c, proto::ProtocolError, "login share expected");
            return;
        }
        pake::Reply2 answer;
        const pake::VerifierRecord *record = dev.model.verifierOf(c.user);
        // Checked per share: hellos taken before the lock fell must not be
        // spent as guesses after it.
        if (dev.model.isLocked(c.user, c.peer, now)) {
            answer.result = proto::Locked;
        } else if (!record) {
            answer.result = proto::NoSuchUser;
        } else {
            c.pake = std::make_unique<pake::PakeDevice>(
                pake::Identities { c.loginContext, c.user, std::string() });
            const pake::Error e
                = c.pake->respond(*record, share.shareP, answer.shareV, answer.confirmV);
            answer.result = e == pake::Error::None ? int32_t(proto::Ok) : int32_t(proto::ProtocolError);
        }
        const bool ok = answer.result == proto::Ok;
        // The client can test its guess against confirmV without ever
        // answering, so the attempt counts from here until its confirmation
        // matches.
        if (ok)
            dev.model.wrongPassword(c.user, c.peer, now);
        c.state = ok ? ConnState::AwaitConfirm : ConnState::Closing;
        reply(c, Type::LoginReply, frame.sequence, pake::encode(answer), !ok);
        return;
    }
    case ConnState::AwaitConfirm: {
        pake::Confirm2 confirm;
        if (type != Type::LoginConfirm || !pake::decode(frame.payload, confirm) || !c.pake) {
            refuse(c, proto::ProtocolError, "login confirmation expected");
            return;
        }
        pake::SharedKey shared;
        const pake::Error e = c.pake->finish(confirm.confirmP, shared);
        c.pake.reset();
        if (e != pake::Error::None) {
            refuse(c, e == pake::Error::ConfirmationMismatch ? int32_t(proto::WrongPassword)
                                                             : int32_t(proto::ProtocolError),
                pake::errorText(e));
            return;
        }
        dev.model.withdrawWrongPassword(c.user, c.peer);
        proto::session::SessionKeys keys;
        const bool derived = proto::session::deriveSessionKeys(shared, keys);
        OPENSSL_cleanse(shared.data(), shared.size());
        if (!derived) {
            refuse(c, proto::ProtocolError, "session keys could not be derived");
            return;
        }
        c.sealer = std::make_unique<proto::session::FrameSealer>(keys.deviceToClient);
        c.opener = std::make_unique<proto::session::FrameOpener>(keys.clientToDevice);
        OPENSSL_cleanse(&keys, sizeof keys);
        proto::LoginResult result;
        if (dev.model.isLocked(c.user, c.peer, now)) {
            result.result = proto::Locked;
        } else if (m_state.sessionsOf(c.device) >= dev.model.spec().maxSessions) {
            result.result = proto::InUse;
        } else {
            dev.model.rightPassword(c.user, c.peer);
            result.sessionId = m_state.nextSessionId++;
            const LoginInfo block = dev.model.loginBlock();
            std::memcpy(result.loginBlock, &block, sizeof block);
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
    // A clear frame, or one that fails its tag (changed, replayed, reordered),
    // ends the session; nothing more is sent under the key.
    const proto::session::SealError opened = proto::session::openFrame(*c.opener, frame);
    if (opened != proto::session::SealError::None) {
        c.sealer.reset();
        drop(c, proto::session::errorText(opened));
        return;
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
        const int device = c.device;
        const uint32_t ipBefore = dev.model.spec().ip;
        int32_t r;
        std::string holder;
        // A restore of the network settings takes the device back to its
        // factory address; never onto one another device holds.
        if (req.command == CmdRestoreDefaults && DeviceModel::restoresNetwork(req.data)
            && dev.model.factoryIp() != ipBefore)
            holder = m_state.holderOf(dev.model.factoryIp(), std::size_t(device));
        if (!holder.empty()) {
            r = proto::Fail;
            m_state.log(m_state.deviceName(device) + ": restore of the network settings refused: "
                + net::ipv4Text(dev.model.factoryIp()) + " is held by " + holder);
        } else {
            r = dev.model.setConfig(req.command, req.channel, req.data);
        }
        if (r != proto::Ok && r != proto::NeedReboot && !dev.model.lastRefusal().empty())
            m_state.log(m_state.deviceName(device) + ": command " + std::to_string(req.command)
                + " refused: " + dev.model.lastRefusal());
        const bool moved = dev.model.spec().ip != ipBefore;
        if (r == proto::Ok || r == proto::NeedReboot || moved)
            m_persistence.save();
        reply(c, Type::SetConfigReply, frame.sequence, proto::encodeResult(r));
        if (moved) {
            m_state.log(m_state.deviceName(device) + ": back at its factory address");
            // Once the answer is out, as a device that changes its address
            // drops every session on the old one.
            m_state.after(f.delayMs + 20, [this, device] { m_loop.moveDevice(device); });
        }
        return;
    }
    case Type::Reboot: {
        reply(c, Type::RebootReply, frame.sequence, proto::encodeResult(proto::Ok));
        const int device = c.device;
        m_state.after(f.delayMs + 20, [this, device] { beginReboot(device); });
        return;
    }
    case Type::UpgradeBegin:
        onUpgradeBegin(c, frame);
        return;
    case Type::UpgradeData:
        onUpgradeData(c, frame);
        return;
    case Type::UpgradeCommit:
        onUpgradeCommit(c, frame);
        return;
    case Type::StreamStart:
        onStreamStart(c, frame);
        return;
    case Type::StreamStop:
        onStreamStop(c, frame);
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
        d2.model.restarted();
        std::string error;
        if (!m_loop.openListener(device, error))
            m_state.log(m_state.deviceName(device) + ": unreachable after reboot: " + error);
    });
}

} // namespace scoutrix::devsim
