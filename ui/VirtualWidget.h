#pragma once

#include <cstdint>

#include <QWidget>

#include "MessageDispatcher.h"
#include "MessageHeader.h"
#include "MessageReceiver.h"

// Base of the windows: a QWidget with the managers' message-handler table, so that manager threads
// can post results to a window and have them handled, in posting order, on the GUI thread.
// It has no thread, lifecycle or timers of its own and accepts messages from construction on.
class VirtualWidget : public QWidget, public MessageReceiver
{
    Q_OBJECT

public:
    explicit VirtualWidget(QWidget *parent = nullptr);
    ~VirtualWidget() override;

    // Synchronous delivery on the calling thread; refused from any thread but the window's own.
    virtual bool sendMessage(const void *message, std::uint32_t length);
    // Any thread. Refused (false) when maxPendingMessages() messages are in flight.
    bool postMessage(const void *message, std::uint32_t length) override;

    std::uint32_t pendingMessages() const { return m_dispatcher.pending(); }
    std::uint32_t maxPendingMessages() const { return m_dispatcher.maxPending(); }

protected:
    void registerMessageHandler(std::int32_t id, MessageDispatcher::Handler handler);
    template <typename Message, typename Receiver>
    void registerMessageHandler(std::int32_t id, void (Receiver::*handler)(const Message *))
    {
        registerMessageHandler(id, typedHandler(static_cast<Receiver *>(this), handler));
    }
    void unregisterMessageHandler(std::int32_t id);

    void customEvent(QEvent *event) override;

private:
    MessageDispatcher m_dispatcher;
};
