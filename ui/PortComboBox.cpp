#include "PortComboBox.h"

PortComboBox::PortComboBox(QWidget *parent) : QComboBox(parent) {}

PortComboBox::~PortComboBox() = default;

void PortComboBox::showPopup()
{
    emit popupAboutToShow();
    QComboBox::showPopup();
}
