// The device side of a firmware or logo upgrade: it takes the file, checks
// it, "writes" it with progress pushes, and reboots into it.

#include "EmulatorState.h"
#include "NetSdk.h"
#include "Session.h"
#include "SocketLoop.h"
#include "StatePersistence.h"

namespace scoutrix::devsim {

using proto::Type;

namespace {

constexpr int kFlashSteps = 20; // a push every 5 %

} // namespace

void Session::onUpgradeBegin(Conn &c, const proto::Frame &frame)
{
    proto::UpgradeBegin begin;
    if (!proto::decode(frame.payload, begin)) {
        refuse(c, proto::ProtocolError, "malformed upgrade begin");
        return;
    }
    EmulatedDevice &dev = m_state.device(c.device);
    proto::UpgradeReady ready;
    if (dev.upgrade) {
        const auto owner = m_state.conns.find(dev.upgradeConn);
        const bool ownerLive = owner != m_state.conns.end() && owner->second->state == ConnState::Session;
        // A session may start over; another one waits until this upgrade
        // is written or its session has gone.
        if (dev.flashing || (ownerLive && dev.upgradeConn != c.id))
            ready.result = NETSDK_UPGRADE_ERR_BUSY;
        else
            dev.upgrade.reset();
    }
    if (!ready.result)
        ready.result = UpgradeJob::beginRefusal(begin);
    if (ready.result) {
        m_state.log(m_state.deviceName(c.device) + ": upgrade " + begin.fileName + " refused ("
            + std::to_string(ready.result) + ")");
        reply(c, Type::UpgradeReady, frame.sequence, proto::encode(ready));
        return;
    }
    UpgradeJob::Target target;
    target.model = dev.model.spec().model;
    const HardwareRecord hw = DeviceModel::hardwareRecord(dev.model.spec());
    target.logo = LogoTarget { hw.hardwareName(), hw.areaStart(), hw.areaEnd() };
    dev.upgrade = std::make_unique<UpgradeJob>(begin, std::move(target));
    dev.upgradeConn = c.id;
    ready.chunkSize = UpgradeJob::ChunkSize;
    m_state.log(m_state.deviceName(c.device) + ": receiving " + begin.fileName + ", "
        + std::to_string(begin.fileSize) + " bytes");
    reply(c, Type::UpgradeReady, frame.sequence, proto::encode(ready));
}

void Session::onUpgradeData(Conn &c, const proto::Frame &frame)
{
    uint32_t offset = 0;
    const uint8_t *data = nullptr;
    std::size_t size = 0;
    if (!proto::decodeUpgradeData(frame.payload, offset, data, size)) {
        refuse(c, proto::ProtocolError, "malformed upgrade data");
        return;
    }
    EmulatedDevice &dev = m_state.device(c.device);
    proto::UpgradeAck ack;
    if (!dev.upgrade || dev.upgradeConn != c.id || dev.flashing) {
        ack.result = NETSDK_UPGRADE_ERR_TRANSFER;
    } else {
        ack.result = dev.upgrade->add(offset, data, size);
        ack.received = dev.upgrade->received();
        if (ack.result) {
            m_state.log(m_state.deviceName(c.device) + ": upgrade refused: " + dev.upgrade->why());
            dev.upgrade.reset();
        }
    }
    reply(c, Type::UpgradeDataAck, frame.sequence, proto::encode(ack));
}

void Session::onUpgradeCommit(Conn &c, const proto::Frame &)
{
    EmulatedDevice &dev = m_state.device(c.device);
    if (!dev.upgrade || dev.upgradeConn != c.id || dev.flashing) {
        pushStatus(c.id, proto::UpgradeState::Failed, 0, NETSDK_UPGRADE_ERR_TRANSFER);
        return;
    }
    const int32_t r = dev.upgrade->commit();
    if (r) {
        m_state.log(m_state.deviceName(c.device) + ": upgrade refused: " + dev.upgrade->why());
        dev.upgrade.reset();
        pushStatus(c.id, proto::UpgradeState::Failed, 0, r);
        return;
    }
    dev.flashing = true;
    flashStep(c.device, c.id, 0);
}

void Session::pushStatus(uint64_t connId, proto::UpgradeState state, int percent, int32_t status)
{
    const auto it = m_state.conns.find(connId);
    if (it == m_state.conns.end() || it->second->state != ConnState::Session)
        return; // the uploader has gone; the device writes on regardless
    reply(*it->second, Type::UpgradeStatus, 0,
        proto::encode(proto::UpgradeStatus { int32_t(state), percent, status }));
}

void Session::flashStep(int device, uint64_t connId, int percent)
{
    EmulatedDevice &dev = m_state.device(device);
    if (!dev.upgrade || !dev.flashing)
        return;
    const DeviceSpec &spec = dev.model.spec();
    const int lossAt = spec.faults.powerLossAtPercent;
    if (lossAt > 0 && percent >= lossAt) {
        // The half-written image is never booted: the device comes back on
        // the firmware it had.
        m_state.log(m_state.deviceName(device) + ": power lost while writing at "
            + std::to_string(percent) + " %");
        dev.upgrade.reset();
        dev.flashing = false;
        beginReboot(device);
        return;
    }
    if (percent < 100) {
        pushStatus(connId, proto::UpgradeState::Writing, percent, 0);
        m_state.after(spec.flashMs / kFlashSteps,
            [this, device, connId, percent] { flashStep(device, connId, percent + 100 / kFlashSteps); });
        return;
    }
    const UpgradeJob &job = *dev.upgrade;
    if (job.kind() == UpgradeJob::Kind::Firmware) {
        m_state.log(m_state.deviceName(device) + ": firmware " + job.firmware().version + " written");
        dev.model.applyFirmware(job.firmware().version, job.firmware().build);
    } else {
        m_state.log(m_state.deviceName(device) + ": logo written: " + job.logoMarker());
        dev.model.setLogo(job.logoMarker());
    }
    dev.upgrade.reset();
    dev.flashing = false;
    m_persistence.save();
    pushStatus(connId, proto::UpgradeState::Done, 100, 0);
    // Once the final status is out, the device restarts into what it wrote.
    m_state.after(spec.faults.delayMs + 100, [this, device] { beginReboot(device); });
}

} // namespace scoutrix::devsim
