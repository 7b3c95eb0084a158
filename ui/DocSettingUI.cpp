#include "DocSettingUI.h"

#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>

#include "Artwork.h"
#include "ConfigManager.h"
#include "DocSetting.h"
#include "PageLayout.h"
#include "PaintedPage.h"
#include "SavePath.h"
#include "ui_DocSettingUI.h"

namespace {

QString imagePath(const QString &fileName)
{
    return Artwork::path(fileName, Artwork::language());
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
    struct Field
    {
        QWidget *widget;
        QString text;
        QString name;
        bool title;
    };
    const Field fields[] = {
        {m_ui->titleEdit, m_ui->titleEdit->text(), tr("title"), true},
        {m_ui->headerEdit, m_ui->headerEdit->toPlainText(), tr("header"), false},
        {m_ui->footerEdit, m_ui->footerEdit->toPlainText(), tr("footer"), false},
    };
    m_problem.clear();
    for (const Field &field : fields) {
        QString problem;
        const QString character = SavePath::firstUnencodable(field.text);
        if (!character.isEmpty())
            problem = tr("The %1 holds \u201c%2\u201d (U+%3), which documents cannot carry")
                          .arg(field.name, character)
                          .arg(character.toUcs4().value(0), 4, 16, QLatin1Char('0'));
        else
            problem = layoutProblem(field.name, field.text, field.title);
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

QString DocSettingUI::layoutProblem(const QString &name, const QString &text, bool title)
{
    if (title) {
        if (PaintedPage::lineWidth(text, PageLayout::titlePoints) > PageLayout::maxLineWidth)
            return tr("The %1 is wider than the page: shorten it").arg(name);
        return QString();
    }
    const int most = PageLayout::maxHeaderFooterLines();
    const int count = PageLayout::lineCount(text);
    if (count > most)
        return tr("The %1 has %2 lines; the page holds %3 with the report").arg(name).arg(count).arg(most);
    const QStringList lines = PageLayout::lines(text);
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (PaintedPage::lineWidth(lines.at(i), PageLayout::headerFooterPoints) > PageLayout::maxLineWidth)
            return tr("The %1 line %2 is wider than the page: break it into two lines").arg(name).arg(i + 1);
    return QString();
}

void DocSettingUI::reject()
{
    QDialog::reject();
}
