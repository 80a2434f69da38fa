#!/usr/bin/env node
// npm's onvif package driving one emulated ONVIF camera, step by step, with
// the package's own requests and parsing. Its discovery is multicast only, so
// the probe here sends the package's Probe shape unicast to the emulator's
// discovery endpoint on loopback and reads the answers with the package's own
// SOAP parsing.
//
// usage: npm_onvif_accept.js DISCOVERY_IP:PORT DEVICE_IP NEW_IP USER PASSWORD
// Prints one "ok" line per step; the first failing step prints "FAIL" and the
// process exits 1.
'use strict';

const dgram = require('dgram');
const crypto = require('crypto');
let onvif;
try {
	onvif = { ...require('onvif'), ...require('onvif/lib/utils') };
} catch (err) {
	console.log(`FAIL setup: npm onvif is not installed here (${err.code}); scripts/deps.sh runs npm ci in ${__dirname}`);
	process.exit(1);
}
const { Cam, parseSOAPString, linerase } = onvif;

const PROBE_WAIT_MS = 1500;
const REBOOT_WAIT_MS = 40000;
const FLEET_CLOCK_SKEW_S = 600;

class StepFailure extends Error {}

function ok(step, text) {
	console.log(`ok ${step}: ${text}`);
}

function check(condition, step, text) {
	if (!condition) {
		throw new StepFailure(`${step}: ${text}`);
	}
}

// Node-style callback method of the camera as a promise of its first result.
function call(cam, method, ...args) {
	return new Promise((resolve, reject) => {
		cam[method](...args, (err, result, xml) => {
			if (err) {
				err.xml = xml;
				reject(err);
			} else {
				resolve(result);
			}
		});
	});
}

async function attempt(step, promise) {
	try {
		return await promise;
	} catch (err) {
		throw new StepFailure(`${step}: ${err.message}${err.xml ? `\n  device answered: ${err.xml}` : ''}`);
	}
}

function parseSoap(text) {
	return new Promise((resolve) => {
		parseSOAPString(text, (err, data) => resolve(err ? null : data), 200);
	});
}

function loopbackEndpoint(text) {
	const m = /^(127\.\d{1,3}\.\d{1,3}\.\d{1,3}):(\d{1,5})$/.exec(text || '');
	if (!m) {
		throw new StepFailure(`arguments: the discovery endpoint must be a loopback IP:PORT, not "${text}"`);
	}
	return { address: m[1], port: Number(m[2]) };
}

// Every ProbeMatch the discovery endpoint sends back within PROBE_WAIT_MS,
// as { urn, xaddrs: [URL] }.
function probe(discovery) {
	const messageId = `urn:uuid:${crypto.randomUUID()}`;
	const request = Buffer.from(
		'<Envelope xmlns="http://www.w3.org/2003/05/soap-envelope" xmlns:dn="http://www.onvif.org/ver10/network/wsdl">' +
		'<Header>' +
		`<wsa:MessageID xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing">${messageId}</wsa:MessageID>` +
		'<wsa:To xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing">urn:schemas-xmlsoap-org:ws:2005:04:discovery</wsa:To>' +
		'<wsa:Action xmlns:wsa="http://schemas.xmlsoap.org/ws/2004/08/addressing">http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</wsa:Action>' +
		'</Header>' +
		'<Body><Probe xmlns="http://schemas.xmlsoap.org/ws/2005/04/discovery">' +
		'<Types>dn:NetworkVideoTransmitter</Types><Scopes />' +
		'</Probe></Body></Envelope>');
	return new Promise((resolve, reject) => {
		const socket = dgram.createSocket('udp4');
		const texts = [];
		socket.on('message', (msg) => texts.push(msg.toString()));
		socket.on('error', reject);
		socket.bind(0, '127.0.0.1', () => {
			socket.send(request, discovery.port, discovery.address, (err) => {
				if (err) {
					reject(err);
				}
			});
			setTimeout(async () => {
				socket.close();
				const matches = [];
				for (const text of texts) {
					const data = await parseSoap(text);
					if (!data || !data[0].probeMatches) {
						continue;
					}
					const match = linerase(data).probeMatches.probeMatch;
					matches.push({
						urn: match.endpointReference.address,
						xaddrs: String(match.XAddrs).split(' ').map((x) => new URL(x)),
					});
				}
				resolve(matches);
			}, PROBE_WAIT_MS);
		});
	});
}

function matchOn(matches, ip) {
	return matches.find((m) => m.xaddrs.some((u) => u.hostname === ip));
}

function asArray(x) {
	return x === undefined ? [] : Array.isArray(x) ? x : [x];
}

function sleep(ms) {
	return new Promise((resolve) => setTimeout(resolve, ms));
}

// A device that takes any password proves nothing about the digest.
async function refuseStranger(cam) {
	const stranger = new Cam({
		hostname: cam.hostname, port: cam.port, path: cam.path,
		username: cam.username, password: 'not-the-password', timeout: 5000, autoconnect: false,
	});
	await attempt('GetSystemDateAndTime', call(stranger, 'getSystemDateAndTime'));
	const refused = await call(stranger, 'getDeviceInformation').then(() => null, (err) => err);
	check(refused, 'wrong password', 'GetDeviceInformation answered a wrong password');
	ok('wrong password', `refused (${refused.message.split('\n')[0]})`);
}

async function readDevice(cam, deviceIp) {
	await refuseStranger(cam);
	const info = await attempt('GetDeviceInformation', call(cam, 'getDeviceInformation'));
	check(info.serialNumber && info.model && info.firmwareVersion, 'GetDeviceInformation',
		`incomplete: ${JSON.stringify(info)}`);
	ok('GetDeviceInformation', `${info.manufacturer} ${info.model}, serial ${info.serialNumber}, firmware ${info.firmwareVersion}`);

	const profiles = await attempt('GetProfiles', call(cam, 'getProfiles'));
	check(profiles.length >= 2, 'GetProfiles', `${profiles.length} profiles, main and sub expected`);
	const sizes = profiles.map((p) => {
		const vec = p.videoEncoderConfiguration;
		check(vec && vec.resolution, 'GetProfiles', `profile ${p.$.token} has no video encoder configuration`);
		return `${p.$.token} ${vec.encoding} ${vec.resolution.width}x${vec.resolution.height}`;
	});
	ok('GetProfiles', sizes.join(', '));

	const stream = await attempt('GetStreamUri',
		call(cam, 'getStreamUri', { protocol: 'RTSP', profileToken: profiles[0].$.token }));
	const uri = new URL(stream.uri);
	check(uri.protocol === 'rtsp:' && uri.hostname === deviceIp, 'GetStreamUri',
		`${stream.uri} is no rtsp address on ${deviceIp}`);
	ok('GetStreamUri', stream.uri);
	return info;
}

async function setClock(cam) {
	const before = await attempt('GetSystemDateAndTime', call(cam, 'getSystemDateAndTime'));
	const skew = (before.getTime() - Date.now()) / 1000;
	// The fleet runs this device's clock ahead: a set that did nothing shows.
	check(Math.abs(skew - FLEET_CLOCK_SKEW_S) < 5, 'GetSystemDateAndTime',
		`device clock ${skew.toFixed(0)} s from ours, the fleet says ${FLEET_CLOCK_SKEW_S}`);
	ok('GetSystemDateAndTime', `device clock ${skew.toFixed(0)} s ahead of ours`);

	const answered = await attempt('SetSystemDateAndTime', call(cam, 'setSystemDateAndTime', {
		dateTimeType: 'Manual', daylightSavings: false, timezone: 'UTC0', dateTime: new Date(),
	}));
	// The package keeps signing with the clock offset it read at connect; as
	// its users must, forget it so the next read takes the device's new clock.
	cam.timeShift = undefined;
	const after = await attempt('GetSystemDateAndTime after the set', call(cam, 'getSystemDateAndTime'));
	const left = (after.getTime() - Date.now()) / 1000;
	check(Math.abs(left) <= 2, 'SetSystemDateAndTime',
		`device clock still ${left.toFixed(0)} s from ours (answered ${answered.toISOString()})`);
	ok('SetSystemDateAndTime', `device clock ${left.toFixed(0)} s from ours, was ${skew.toFixed(0)} s`);
}

async function moveDevice(cam, discovery, oldIp, newIp, serial) {
	const interfaces = await attempt('GetNetworkInterfaces', call(cam, 'getNetworkInterfaces'));
	const nic = interfaces.find((n) => n.IPv4 && n.IPv4.config && asArray(n.IPv4.config.manual)
		.some((a) => a.address === oldIp));
	check(nic, 'GetNetworkInterfaces', `no interface holds ${oldIp}: ${JSON.stringify(interfaces)}`);
	const prefixLength = asArray(nic.IPv4.config.manual).find((a) => a.address === oldIp).prefixLength;
	ok('GetNetworkInterfaces', `${nic.$.token} holds ${oldIp}/${prefixLength}, DHCP ${nic.IPv4.config.DHCP}`);

	const answer = await attempt('SetNetworkInterfaces', call(cam, 'setNetworkInterfaces', {
		interfaceToken: nic.$.token,
		networkInterface: {
			enabled: true,
			IPv4: { enabled: true, DHCP: false, manual: { address: newIp, prefixLength } },
		},
	}));
	check(cam.hostname === newIp, 'SetNetworkInterfaces', `the client still talks to ${cam.hostname}`);
	ok('SetNetworkInterfaces', `${oldIp} asked to move to ${newIp}, reboot needed: ${answer.rebootNeeded}`);

	// The device takes its new address after answering; a search shows where it went.
	let matches = [];
	const until = Date.now() + 10000;
	while (!matchOn(matches, newIp) && Date.now() < until) {
		matches = await probe(discovery);
	}
	check(matchOn(matches, newIp), 'search after SetNetworkInterfaces', `no answer from ${newIp}`);
	check(!matchOn(matches, oldIp), 'search after SetNetworkInterfaces', `${oldIp} still answers`);
	ok('search after SetNetworkInterfaces', `found at ${matchOn(matches, newIp).xaddrs.join(' ')}, gone from ${oldIp}`);

	const info = await attempt('GetDeviceInformation at the new address', call(cam, 'getDeviceInformation'));
	check(info.serialNumber === serial, 'GetDeviceInformation at the new address',
		`serial ${info.serialNumber}, expected ${serial}`);
	ok('GetDeviceInformation at the new address', `serial ${info.serialNumber}`);
}

async function reboot(cam) {
	const message = await attempt('SystemReboot', call(cam, 'systemReboot'));
	const asked = Date.now();
	const shortTimeout = cam.timeout;
	cam.timeout = 1000;
	let wentAway = 0;
	let cameBack = 0;
	while (!cameBack && Date.now() - asked < REBOOT_WAIT_MS) {
		const answered = await call(cam, 'getSystemDateAndTime').then(() => true, () => false);
		if (!answered && !wentAway) {
			wentAway = Date.now();
		} else if (answered && wentAway) {
			cameBack = Date.now();
		}
		await sleep(100);
	}
	cam.timeout = shortTimeout;
	check(wentAway, 'SystemReboot', 'the device never went away');
	check(cameBack, 'SystemReboot', `the device went away and did not come back within ${REBOOT_WAIT_MS / 1000} s`);
	const info = await attempt('GetDeviceInformation after the reboot', call(cam, 'getDeviceInformation'));
	ok('SystemReboot', `"${message}", away after ${((wentAway - asked) / 1000).toFixed(1)} s, ` +
		`back after ${((cameBack - asked) / 1000).toFixed(1)} s, serial ${info.serialNumber}`);
}

async function main(argv) {
	if (argv.length !== 5) {
		console.error('usage: npm_onvif_accept.js DISCOVERY_IP:PORT DEVICE_IP NEW_IP USER PASSWORD');
		return 2;
	}
	const [endpoint, deviceIp, newIp, username, password] = argv;
	const discovery = loopbackEndpoint(endpoint);

	const match = matchOn(await attempt('probe', probe(discovery)), deviceIp);
	check(match, 'probe', `no ProbeMatch with an address on ${deviceIp}`);
	const service = match.xaddrs.find((u) => u.hostname === deviceIp);
	ok('probe', `${match.urn} at ${service.href}`);

	// preserveAddress keeps every service on the address we reached the device at.
	const cam = new Cam({
		hostname: deviceIp, port: Number(service.port) || 80, path: service.pathname,
		username, password, preserveAddress: true, timeout: 5000, autoconnect: false,
	});
	await attempt('connect (GetSystemDateAndTime, GetServices, GetProfiles, GetVideoSources)',
		new Promise((resolve, reject) => cam.connect((err) => (err ? reject(err) : resolve()))));
	ok('connect', `services ${Object.keys(cam.uri || {}).join(', ')}; ${cam.profiles.length} profiles, ${asArray(cam.videoSources).length} video sources`);

	const info = await readDevice(cam, deviceIp);
	await setClock(cam);
	await moveDevice(cam, discovery, deviceIp, newIp, info.serialNumber);
	await reboot(cam);
	console.log('npm onvif accepted the device');
	return 0;
}

main(process.argv.slice(2)).then((code) => process.exit(code), (err) => {
	console.log(err instanceof StepFailure ? `FAIL ${err.message}` : `FAIL ${err.stack}`);
	process.exit(1);
});
