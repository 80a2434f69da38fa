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
    if (model.getConfig(CmdEncodeTable, -1, tableBytes) != proto::Ok || tableBytes.size() != sizeof(EncodeTable)
        || model.getConfig(CmdResolutionList, -1, listBytes) != proto::Ok
        || listBytes.size() != sizeof(ResolutionList)) {
        why = "no encode settings";
        return false;
    }
    auto table = std::make_unique<EncodeTable>();
    std::memcpy(table.get(), tableBytes.data(), sizeof(EncodeTable));
    ResolutionList list;
    std::memcpy(&list, listBytes.data(), sizeof list);
    const ChannelEncode &ch = table->channel[req.channel];
    const StreamParams &s = req.stream == int32_t(proto::StreamKind::Sub) ? ch.sub : ch.main;
    const int res = s.resolution();
    if (res < 0 || res >= ResolutionList::Entries) {
        why = "resolution " + std::to_string(res) + " unknown";
        return false;
    }
    f.width = list.entry[res].widthValue() & ~1;
    f.height = list.entry[res].heightValue() & ~1;
    f.fps = s.frameRate();
    if (f.width < 16 || f.height < 16 || f.width > 4096 || f.height > 4096 || f.fps < 1 || f.fps > 60) {
        why = "stream format " + std::to_string(f.width) + "x" + std::to_string(f.height) + " at "
            + std::to_string(f.fps) + " fps";
        return false;
    }
    f.keyInterval = s.iFrameInterval() > 0 ? s.iFrameInterval() : 2 * f.fps;
    f.channel = req.channel;
    f.sub = req.stream == int32_t(proto::StreamKind::Sub);
    const std::string &serial = spec.serial;
    f.title = spec.model + " " + serial.substr(serial.size() > 4 ? serial.size() - 4 : 0);
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
