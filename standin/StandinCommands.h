#pragma once

class ControlChannel;
class StandinService;

// The stand-in's own control commands: status, send, send-text, send-padded,
// answer-create, answer-join, delay, drop, stop-listener, start-listener,
// clients, log-tail.
void registerServiceCommands(StandinService& service, ControlChannel& control);
