#include "DocSettingUI.h"

#include <QIcon>
#include <QPixmap>
#include <QPushButton>

#include "AppPaths.h"
#include "ConfigManager.h"
#include "DocSetting.h"
#include "ui_DocSettingUI.h"

namespace {

QString imagePath(const QString &fileName)
{
    return AppPaths::imageDir() + QStringLiteral("/") + fileName;
}

constexpr QSize buttonIconSize(80, 32);

} // namespace

DocSettingUI::DocSettingUI(QWidget *parent) : QDialog(parent), m_ui(std::make_unique<Ui::DocSettingUI>())
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->setupUi(this);

    m_ui->titleLabel->setPixmap(QPixmap(imagePath(QStringLiteral("Title.png"))));
    m_ui->headerLabel->setPixmap(QPixmap(imagePath(QStringLiteral("Header.png"))));
    m_ui->footerLabel->setPixmap(QPixmap(imagePath(QStringLiteral("Footer.png"))));
    m_ui->acceptButton->setIcon(QIcon(imagePath(QStringLiteral("SaveAs.png"))));
    m_ui->acceptButton->setIconSize(buttonIconSize);
    m_ui->rejectButton->setIcon(QIcon(imagePath(QStringLiteral("Cancel.png"))));
    m_ui->rejectButton->setIconSize(buttonIconSize);

    const DocSetting setting = ConfigManager::instance()->docSetting();
    m_ui->titleEdit->setText(setting.title);
    m_ui->headerEdit->setPlainText(setting.header);
    m_ui->footerEdit->setPlainText(setting.footer);
    m_ui->titleEdit->setFocus();

    connect(m_ui->acceptButton, &QPushButton::clicked, this, &DocSettingUI::accept);
    connect(m_ui->rejectButton, &QPushButton::clicked, this, &DocSettingUI::reject);
}

DocSettingUI::~DocSettingUI() = default;

void DocSettingUI::accept()
{
    DocSetting setting;
    setting.title = m_ui->titleEdit->text();
    setting.header = m_ui->headerEdit->toPlainText();
    setting.footer = m_ui->footerEdit->toPlainText();
    ConfigManager::instance()->setDocSetting(setting);
    QDialog::accept();
}

void DocSettingUI::reject()
{
    QDialog::reject();
}
