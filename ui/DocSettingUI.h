#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class DocSettingUI;
}

// The "Doc Setting" dialog: the title, page header and page footer that every exported document
// carries (the printed page shows the header and footer too). Stores through the configuration
// store only when accepted, and accepts only texts that fit the page with the report: the reason
// is shown in the dialog otherwise.
class DocSettingUI final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DocSettingUI)

public:
    explicit DocSettingUI(QWidget *parent = nullptr);
    ~DocSettingUI() override;

    // Why a text of the dialog would not fit the one page every output shares (more header or
    // footer lines than the page holds with the report, a line wider than the page), or an empty
    // text when it fits. `name` is the field's name as the operator reads it.
    static QString layoutProblem(const QString &name, const QString &text, bool title);

public slots:
    void accept() override;
    void reject() override;

private:
    // Refuses text the documents cannot carry: GBK must hold every character, and the page only so
    // many header and footer lines of its width. The field at fault says why; OK waits until all is
    // well.
    void check();

    std::unique_ptr<Ui::DocSettingUI> m_ui;
    QString m_problem;
};
