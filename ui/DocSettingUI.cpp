#include "DocSettingUI.h"

#include <QIcon>
#include <QPixmap>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include "AppPaths.h"
#include "ConfigManager.h"
#include "DocSetting.h"
#include "ReportPage.h"
#include "SavePath.h"
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

    m_ui->titleLabel->setAccessibleName(tr("Title"));
    m_ui->headerLabel->setAccessibleName(tr("Header"));
    m_ui->footerLabel->setAccessibleName(tr("Footer"));
    m_ui->titleEdit->setAccessibleName(tr("Title"));
    m_ui->headerEdit->setAccessibleName(tr("Header"));
    m_ui->footerEdit->setAccessibleName(tr("Footer"));
    m_ui->acceptButton->setAccessibleName(tr("Save"));
    m_ui->acceptButton->setToolTip(tr("Save"));
    m_ui->rejectButton->setAccessibleName(tr("Cancel"));
    m_ui->rejectButton->setToolTip(tr("Cancel"));
    connect(m_ui->titleEdit, &QLineEdit::textChanged, this, &DocSettingUI::check);
    connect(m_ui->headerEdit, &QTextEdit::textChanged, this, &DocSettingUI::check);
    connect(m_ui->footerEdit, &QTextEdit::textChanged, this, &DocSettingUI::check);
    check();

    connect(m_ui->acceptButton, &QPushButton::clicked, this, &DocSettingUI::accept);
    connect(m_ui->rejectButton, &QPushButton::clicked, this, &DocSettingUI::reject);
}

DocSettingUI::~DocSettingUI() = default;

void DocSettingUI::check()
{
    const int maxLines = ReportPage::maxPrintLines();
    struct Field
    {
        QWidget *widget;
        QString text;
        QString name;
        bool printed; // shown on the printed page, so limited in lines
    };
    const Field fields[] = {
        {m_ui->titleEdit, m_ui->titleEdit->text(), tr("title"), false},
        {m_ui->headerEdit, m_ui->headerEdit->toPlainText(), tr("header"), true},
        {m_ui->footerEdit, m_ui->footerEdit->toPlainText(), tr("footer"), true},
    };
    m_problem.clear();
    for (const Field &field : fields) {
        QString problem;
        const QString character = SavePath::firstUnencodable(field.text);
        const qsizetype lines = field.text.count(QLatin1Char('\n')) + 1;
        if (!character.isEmpty())
            problem = tr("The %1 holds \u201c%2\u201d (U+%3), which documents cannot carry")
                          .arg(field.name, character)
                          .arg(character.toUcs4().value(0), 4, 16, QLatin1Char('0'));
        else if (field.printed && lines > maxLines)
            problem =
                tr("The %1 has %2 lines; the printed page holds %3").arg(field.name).arg(lines).arg(maxLines);
        field.widget->setToolTip(problem);
        field.widget->setAccessibleDescription(problem);
        const QString style = problem.isEmpty() ? QString() : QStringLiteral("border: 2px solid #c00000;");
        if (field.widget->styleSheet() != style)
            field.widget->setStyleSheet(style);
        if (m_problem.isEmpty())
            m_problem = problem;
    }
    m_ui->problemLabel->setText(m_problem);
    m_ui->acceptButton->setEnabled(m_problem.isEmpty());
}

void DocSettingUI::accept()
{
    if (!m_problem.isEmpty())
        return;
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
