#pragma once

#include <QComboBox>

// The tester port list. Tells when the operator opens it, so the window can search the ports
// again and the list follows the cable.
class PortComboBox final : public QComboBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PortComboBox)

public:
    explicit PortComboBox(QWidget *parent = nullptr);
    ~PortComboBox() override;

    void showPopup() override;

signals:
    void popupAboutToShow();
};
