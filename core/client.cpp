#include "client.h"

#include "controller.h"

#include <QDebug>

namespace Vorlane::Core {

// Created from QML: no process, no description and no controller, so nothing can be signalled.
Client::Client(QObject *parent)
    : QObject(parent)
{ }

Client::Client(uint pid, const QString &name, Details *details, QObject *parent)
    : QObject(parent)
    , m_pid(pid)
    , m_name(name)
    , m_details(details)
{
    m_controller = new Controller(pid, details ? details->tryExec() : QString(), this);
    connect(m_controller, &Controller::processEnded, this, &Client::onProcessEnded);
    m_executionState = pid != 0 ? ES_RUNNING : ES_STOPPED;
}

QString Client::name() const
{
    return m_name;
}

uint Client::pid() const
{
    return m_pid;
}

Details *Client::details() const
{
    return m_details;
}

Client::ExecutionState Client::executionState() const
{
    return m_executionState;
}

void Client::setExecutionState(ExecutionState state)
{
    if (state == m_executionState)
        return;
    m_executionState = state;
    emit executionStateChanged();
}

bool Client::requestExecutionState(ExecutionState value)
{
    switch (value) {
    case ES_START:
        startClient();
        return true;
    case ES_PAUSE:
        pauseClient();
        return true;
    case ES_RESUME:
        resumeClient();
        return true;
    case ES_STOP:
        quitClient();
        return true;
    default:
        qWarning() << QString(
            QStringLiteral("Invalid execute state was attempted to be set for binary: ") + m_name);
        return false;
    }
}

void Client::startClient()
{
    if (m_executionState != ES_STOPPED)
        return;
    if (!m_controller || !m_details) {
        qWarning() << "Client start failed - client not running";
        return;
    }
    setExecutionState(ES_STARTING);
    m_pid = m_controller->startClient(m_details->program(), m_details->arguments());
    if (m_pid == 0) {
        setExecutionState(ES_STOPPED);
        qWarning() << "Client start failed - client not running";
    }
}

void Client::pauseClient()
{
    if (m_executionState != ES_RUNNING || !m_controller)
        return;
    setExecutionState(ES_PAUSING);
    const int result = m_controller->pauseClient();
    if (result == 0) {
        setExecutionState(ES_PAUSED);
    } else {
        setExecutionState(ES_RUNNING);
        qWarning() << "Pause client failed, result = " << result;
    }
}

void Client::resumeClient()
{
    if (m_executionState != ES_PAUSED || !m_controller)
        return;
    setExecutionState(ES_RESUMING);
    const int result = m_controller->resumeClient();
    if (result == 0) {
        setExecutionState(ES_RUNNING);
    } else {
        setExecutionState(ES_PAUSED);
        qWarning() << "Resume client failed, result = " << result;
    }
}

void Client::quitClient()
{
    stopProcess(&Controller::quitClient, "Quiting application failed, result = ");
}

void Client::terminateClient()
{
    stopProcess(&Controller::terminateClient, "Terminate application failed, result = ");
}

void Client::stopProcess(int (Controller::*signalProcess)(), const char *failureMessage)
{
    if (m_executionState == ES_STOPPED || !m_controller)
        return;
    // A stopped process cannot act on the quit signal until it is continued.
    if (m_executionState == ES_PAUSED)
        resumeClient();
    const ExecutionState previous = m_executionState;
    setExecutionState(ES_STOPPING);
    const int result = (m_controller->*signalProcess)();
    if (result == 0) {
        m_pid = 0;
        setExecutionState(ES_STOPPED);
    } else {
        setExecutionState(previous);
        qWarning() << failureMessage << result;
    }
}

void Client::onProcessEnded()
{
    // The program has ended on its own (or was killed): it may be started again, and its old
    // process id is never used for a signal.
    m_pid = 0;
    setExecutionState(ES_STOPPED);
}

} // namespace Vorlane::Core
