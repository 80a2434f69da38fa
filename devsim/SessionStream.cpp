// The device side of a live stream: the request is checked against the
// channel's encode settings, and a LiveStream of the requested format
// pushes the picture until it is stopped or the session ends.

#include <cstring>

#include "EmulatorState.h"
#include "Session.h"
#include "SocketLoop.h"

namespace scoutrix::devsim {

using proto::Type;

namespace {

// More is a client that forgets to stop its streams.
constexpr std::size_t kMaxStreamsPerSession = 4;

// The format the encode table gives the requested stream; false, with
// |why|, when the request names no stream of the device.
bool streamFormat(const DeviceModel &model, const proto::StreamRequest &req, LiveStreamFormat &f,
    std::string &why)
{
    const DeviceSpec &spec = model.spec();
    if (req.channel < 0 || req.channel >= spec.channels) {
        why = "no channel " + std::to_string(req.channel);
        return false;
    }
    if (req.stream != int32_t(proto::StreamKind::Main) && req.stream != int32_t(proto::StreamKind::Sub)) {
        why = "no stream " + std::to_string(req.stream);
        return false;
    }
    if (req.reserved1 != 0 || req.reserved2 != 0) {
        why = "reserved words of the request are not 0";
        return false;
    }
    std::vector<uint8_t> tableBytes, listBytes;
    model.getConfig(CmdEncodeTable, -1, tableBytes);
    model.getConfig(CmdResolutionList, -1, listBytes);
    if (!streamFormatOf(tableBytes, listBytes, req.channel, req.stream == int32_t(proto::StreamKind::Sub), f, why))
        return false;
    f.title = sceneTitleOf(spec.model, spec.serial);
    return true;
}

} // namespace

void Session::onStreamStart(Conn &c, const proto::Frame &frame)
{
    proto::StreamRequest req;
    if (!proto::decode(frame.payload, req)) {
        refuse(c, proto::ProtocolError, "malformed stream request");
        return;
    }
    const std::string name = m_state.deviceName(c.device);
    proto::StreamStartReply answer;
    LiveStreamFormat format;
    std::string why;
    if (c.streams.size() >= kMaxStreamsPerSession) {
        answer.result = proto::InUse;
        why = "too many streams on one session";
    } else if (!streamFormat(m_state.device(c.device).model, req, format, why)) {
        answer.result = proto::Fail;
    } else {
        const uint32_t id = m_state.nextStreamId++;
        auto stream = std::make_unique<LiveStream>(m_state, m_loop, c.id, c.device, id, format);
        if (stream->start(why)) {
            answer.streamId = id;
            c.streams.push_back(std::move(stream));
            m_state.log(name + ": stream " + std::to_string(id) + " opened, channel "
                + std::to_string(req.channel) + (format.sub ? " sub " : " main ")
                + std::to_string(format.width) + "x" + std::to_string(format.height) + " at "
                + std::to_string(format.fps) + " fps");
        } else {
            answer.result = proto::Fail;
        }
    }
    if (answer.result != proto::Ok)
        m_state.log(name + ": stream refused: " + why);
    // Ahead of the stream's first frame: the reply is queued now, under the
    // lock the stream's thread needs before it can queue anything.
    m_loop.queue(c, [&] {
        std::vector<uint8_t> bytes;
        proto::session::sealFrame(*c.sealer, Type::StreamStartReply, frame.sequence, proto::encode(answer), bytes);
        return bytes;
    }());
}

void Session::onStreamStop(Conn &c, const proto::Frame &frame)
{
    proto::Reader r(frame.payload);
    uint32_t id = 0;
    if (!r.u32(id) || !r.atEnd()) {
        refuse(c, proto::ProtocolError, "malformed stream stop");
        return;
    }
    int32_t result = proto::Fail;
    for (auto it = c.streams.begin(); it != c.streams.end(); ++it) {
        if ((*it)->id() == id) {
            c.streams.erase(it); // joins the encoder; nothing of it is queued after this
            result = proto::Ok;
            m_state.log(m_state.deviceName(c.device) + ": stream " + std::to_string(id) + " stopped");
            break;
        }
    }
    reply(c, Type::StreamStopReply, frame.sequence, proto::encodeResult(result));
}

} // namespace scoutrix::devsim
