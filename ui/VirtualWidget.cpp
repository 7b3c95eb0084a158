#include "VirtualWidget.h"

#include <QThread>

VirtualWidget::VirtualWidget(QWidget *parent) : QWidget(parent) {}

VirtualWidget::~VirtualWidget() = default;

bool VirtualWidget::sendMessage(const void *message, std::uint32_t length)
{
    if (QThread::currentThread() != thread())
        return false;
    return m_dispatcher.send(this, message, length);
}

bool VirtualWidget::postMessage(const void *message, std::uint32_t length)
{
    return m_dispatcher.post(this, message, length);
}

void VirtualWidget::registerMessageHandler(std::int32_t id, MessageDispatcher::Handler handler)
{
    m_dispatcher.setHandler(id, std::move(handler));
}

void VirtualWidget::unregisterMessageHandler(std::int32_t id)
{
    m_dispatcher.removeHandler(id);
}

void VirtualWidget::customEvent(QEvent *event)
{
    if (!m_dispatcher.dispatch(event))
        QWidget::customEvent(event);
}
