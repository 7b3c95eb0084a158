#include "DocSettingUI.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "AppPaths.h"
#include "ConfigManager.h"
#include "DocSetting.h"
#include "PageLayout.h"
#include "PaintedPage.h"
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

    m_problemLabel = new QLabel(this);
    m_problemLabel->setObjectName(QStringLiteral("problemLabel"));
    m_problemLabel->setWordWrap(true);
    m_problemLabel->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problemLabel->hide();
    m_ui->verticalLayout->insertWidget(m_ui->verticalLayout->count() - 1, m_problemLabel);

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
    const QString problem = layoutProblem(setting.title, setting.header, setting.footer);
    if (!problem.isEmpty()) {
        m_problemLabel->setText(problem);
        m_problemLabel->show();
        return;
    }
    ConfigManager::instance()->setDocSetting(setting);
    QDialog::accept();
}

QString DocSettingUI::layoutProblem(const QString &title, const QString &header, const QString &footer)
{
    const int most = PageLayout::maxHeaderFooterLines();
    const std::pair<QString, QString> texts[] = {{tr("The header"), header}, {tr("The footer"), footer}};
    for (const auto &[name, text] : texts) {
        const int count = PageLayout::lineCount(text);
        if (count > most)
            return tr("%1 has %2 lines; the page holds %3 with the report.").arg(name).arg(count).arg(most);
        const QStringList lines = PageLayout::lines(text);
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (PaintedPage::lineWidth(lines.at(i), PageLayout::headerFooterPoints) >
                PageLayout::maxLineWidth)
                return tr("%1 line %2 is wider than the page: break it into two lines.").arg(name).arg(i + 1);
    }
    if (PaintedPage::lineWidth(title, PageLayout::titlePoints) > PageLayout::maxLineWidth)
        return tr("The title is wider than the page: shorten it.");
    return QString();
}

void DocSettingUI::reject()
{
    QDialog::reject();
}
