#include "trustprompt.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace app
{

namespace
{

QLabel* selectable(const std::string& text, QWidget* parent)
{
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

} // namespace

TrustPrompt::TrustPrompt(const std::string& device, const tls::PeerCheck& peer, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kObjectName));
    setWindowTitle(tr("Unknown certificate"));
    setAttribute(Qt::WA_DeleteOnClose);

    const std::string why = peer.problem.empty() ? std::string("not trusted") : peer.problem;
    auto* intro = new QLabel(
        tr("The device at %1 shows a certificate that no trusted authority vouches for (%2). "
           "Compare its fingerprint with the one the device shows, then trust it or refuse. "
           "A trusted certificate is remembered for this address and port; a different one "
           "later is refused.")
            .arg(QString::fromStdString(device), QString::fromStdString(why)),
        this);
    intro->setWordWrap(true);

    const tls::CertificateInfo& certificate = peer.certificate;
    auto* form = new QFormLayout;
    form->addRow(tr("Subject"), selectable(certificate.subject, this));
    form->addRow(tr("Issuer"), selectable(certificate.issuer, this));
    form->addRow(tr("Valid"),
                 selectable(certificate.notBefore + " to " + certificate.notAfter, this));
    form->addRow(tr("SHA-256 fingerprint"), selectable(certificate.fingerprint, this));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* trust = buttons->addButton(tr("Trust and remember"), QDialogButtonBox::AcceptRole);
    QPushButton* refuse = buttons->addButton(tr("Refuse"), QDialogButtonBox::RejectRole);
    trust->setObjectName(QStringLiteral("trust"));
    refuse->setObjectName(QStringLiteral("refuse"));
    // Trusting is a choice the operator makes, never Enter's default.
    refuse->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

} // namespace app
