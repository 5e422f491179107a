#include "commandeditdialog.h"

#include "commandlist.h"

#include "check/stepaction.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace app
{

namespace
{

QString text(const std::string& fileText)
{
    return QString::fromUtf8(CommandList::literalText(fileText));
}

std::string bytes(const QLineEdit* edit)
{
    return edit->text().toUtf8().toStdString();
}

} // namespace

CommandEditDialog::CommandEditDialog(const std::string& name, const check::SendStep& send,
                                     QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Saved command"));
    const auto edit = [this](const std::string& value, std::size_t limit) {
        auto* line = new QLineEdit(text(value), this);
        if (limit != 0)
            line->setMaxLength(static_cast<int>(limit));
        return line;
    };
    name_ = new QLineEdit(QString::fromUtf8(name), this);
    name_->setMaxLength(static_cast<int>(check::CheckFileLimits::kMaxNameLength));
    // Media, id and command are free in length as in the console; their
    // widths are checked on OK.
    media_ = edit(send.fields.media, 0);
    deviceId_ = edit(send.fields.deviceId, 0);
    command_ = edit(send.fields.command, 0);
    data_ = edit(send.fields.data, protocol::kDataMaxLength);
    message_ = edit(send.fields.message, protocol::kMessageMaxLength);
    freeText_ = edit(send.text, protocol::kFreeTextMaxLength);
    frame_ = new QRadioButton(tr("Command frame"), this);
    text_ = new QRadioButton(tr("Free text"), this);
    (send.isFrame ? frame_ : text_)->setChecked(true);
    problem_ = new QLabel(this);

    auto* form = new QFormLayout;
    form->addRow(tr("Name"), name_);
    form->addRow(frame_);
    form->addRow(tr("Media"), media_);
    form->addRow(tr("Device ID"), deviceId_);
    form->addRow(tr("Command"), command_);
    form->addRow(tr("Data"), data_);
    form->addRow(tr("Message"), message_);
    form->addRow(text_);
    form->addRow(tr("Text"), freeText_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CommandEditDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CommandEditDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
}

QLineEdit* CommandEditDialog::field(const char* key) const
{
    const std::string_view k(key);
    return k == "name"      ? name_
           : k == "media"   ? media_
           : k == "id"      ? deviceId_
           : k == "data"    ? data_
           : k == "command" ? command_
           : k == "message" ? message_
                            : freeText_;
}

check::SendStep CommandEditDialog::literalSend() const
{
    check::SendStep send;
    send.isFrame = frame_->isChecked();
    if (send.isFrame)
        send.fields = {bytes(media_), bytes(deviceId_), bytes(data_), bytes(command_),
                       bytes(message_)};
    else
        send.text = bytes(freeText_);
    return send;
}

base::Error CommandEditDialog::problem() const
{
    const check::SendStep send = literalSend();
    if (send.isFrame)
        return check::frameFieldsError(send.fields);
    if (send.text.empty())
        return base::Error::input(base::Fault::BadInput, {}, "the text is empty");
    return check::freeTextError(send.text);
}

QString CommandEditDialog::shownProblem() const
{
    return problem_->text();
}

std::string CommandEditDialog::name() const
{
    return bytes(name_);
}

check::SendStep CommandEditDialog::send() const
{
    check::SendStep send = literalSend();
    protocol::FrameFields& f = send.fields;
    for (std::string* t : {&f.media, &f.deviceId, &f.data, &f.command, &f.message, &send.text})
        *t = CommandList::fileText(*t);
    return send;
}

void CommandEditDialog::accept()
{
    const base::Error why = problem();
    problem_->setText(QString::fromStdString(why.text()));
    if (why.ok())
        QDialog::accept();
}

} // namespace app
