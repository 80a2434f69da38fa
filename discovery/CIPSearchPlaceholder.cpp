// Replaced by the device table sources under ui/.
