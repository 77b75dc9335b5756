#include "client.h"

#include "controller.h"

namespace Vorlane::Core {
Client::Client(QObject *parent) : QObject(parent) { }
Client::Client(uint pid, const QString &name, Details *details, QObject *parent) : QObject(parent), m_pid(pid), m_name(name), m_details(details) { }
QString Client::name() const { return m_name; }
uint Client::pid() const { return m_pid; }
Details *Client::details() const { return m_details; }
Client::ExecutionState Client::executionState() const { return m_executionState; }
void Client::setExecutionState(ExecutionState state) { if (state != m_executionState) { m_executionState = state; emit executionStateChanged(); } }
bool Client::requestExecutionState(ExecutionState) { return false; }
void Client::startClient() { }
void Client::pauseClient() { }
void Client::resumeClient() { }
void Client::quitClient() { }
void Client::terminateClient() { }
} // namespace Vorlane::Core
