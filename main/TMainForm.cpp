// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "TMainForm.h"

#include "ChartMenu.h"
#include "ClientServices.h"
#include "LastResult.h"
#include "OverviewPage.h"
#include "ReadMeText.h"
#include "Report.h"
#include "ResultWords.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <initializer_list>

namespace {

constexpr std::chrono::milliseconds TickInterval{1000};
constexpr int ServerListWidth = 161;
// Dragging the connection list narrower than this closes it.
constexpr int ServerListCollapseWidth = 30;

struct ModeTexts {
    const char* peaks;
    const char* glide;
};
constexpr ModeTexts UtilizationTexts{"Utilization (Peaks)", "Utilization (Gliding)"};
constexpr ModeTexts CachingTexts{"Cache requests", "Cache hits"};

// The peaks are the chart's first line and the gliding average (or cache hits) its second.
ChartLine LineOf(ChartSeries series) {
    return series == ChartSeries::Peaks ? ChartLine::Series1 : ChartLine::Series2;
}

// What the chart shows while a failed request keeps the sampling suspended: since the last
// reading that came, not since the request that failed.
QString SuspendedNotice(std::int32_t code,
                        std::optional<std::chrono::system_clock::time_point> lastReading) {
    const QString error = QString::fromStdString(CodeWithWords(std::uint32_t(code)));
    // A click on the selected entry changes nothing, so only another choice resumes.
    const QString resume = QStringLiteral("Pick another server or statistic to resume.");
    if (!lastReading)
        return QStringLiteral("No data (%1). %2").arg(error, resume);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(lastReading->time_since_epoch());
    return QStringLiteral("No data since %1 (%2). %3")
        .arg(QDateTime::fromMSecsSinceEpoch(ms.count()).toString(QStringLiteral("HH:mm:ss")), error,
             resume);
}

// What the chart of a server whose connection did not open shows: the open's own code, not
// that of the requests on the handle it did not give.
QString UnopenedNotice(ClientResult code) {
    return QStringLiteral("Could not connect (%1). Pick another server, then this one again, "
                          "to retry.")
        .arg(QString::fromStdString(CodeWithWords(code)));
}

// Under Wayland the compositor places windows; a program cannot, and is not to try.
bool PlacedByCompositor() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

TMainForm::TMainForm(ClientLibrary& client, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TMainForm>()), m_client(client),
      m_sampling(*this, client), Timer1(this) {
    ui->setupUi(this);
    ui->Chart1->SetLineLength(WindowPoints);
    new ChartMenu(ui->Chart1, TickInterval); // owned by the chart

    ui->Splitter1->setStretchFactor(1, 1);
    ui->Splitter1->setSizes({ServerListWidth, width() - ServerListWidth});
    connect(ui->Splitter1, &QSplitter::splitterMoved, this, [this](int position) {
        if (position > 0 && position <= ServerListCollapseWidth)
            ui->Splitter1->setSizes({0, ui->Splitter1->width()});
    });

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(TickInterval);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(&Timer1); });
    connect(ui->ComboBox1, &QComboBox::currentIndexChanged, this,
            [this] { ResetChart(ui->ComboBox1); });
    connect(ui->ServerList, &ServerListBox::selectionChanged, this,
            [this] { ServerListClick(ui->ServerList); });

    m_overview = new OverviewPage(ui->TabSheetOverview, ui->OverviewFilter, ui->OverviewSummary,
                                  ui->OverviewTable, this);
    connect(m_overview, &OverviewPage::picked, this, &TMainForm::PickServer);

    FormCreate(this);
    SetFleet(std::make_unique<ClientFleet>(m_client, ListedServers()));
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate(QObject* Sender) {
    ui->PageControl1->setCurrentWidget(ui->TabSheetInfo);
    ui->Memo1->setPlainText(ReadMeText(QStringLiteral("Read.me")));

    LastResult = std::int32_t(InitNetWare(m_client));
    if (LastResult != 0) {
        CheckResult(std::uint32_t(LastResult), QStringLiteral("InitNetWare"));
    } else {
        ui->ServerList->Clear();
        ScanConnections(m_client, *ui->ServerList);
        if (ui->ServerList->ItemIndex() == -1)
            ui->ServerList->SetItemIndex(0); // opens the first server, if there is one
        PlaceEntriesInTabOrder();
    }

    ResetChart(Sender);
    // Without a server the reset stopped after the title, and start-up stops with it:
    // the timer stays off and nothing is ever sampled.
    if (ui->ServerList->ItemIndex() == -1)
        return;
    Timer1.start();
    m_sampling.SampleCount = 0;
}

void TMainForm::ServerListClick(QObject* Sender) {
    // Forget a closed handle at once, so that it is never closed twice.
    if (m_sampling.ConnHandle != NoConnection) {
        m_client.CloseConn(m_sampling.ConnHandle);
        m_sampling.ConnHandle = NoConnection;
    }

    const ConnRef ref = ui->ServerList->ItemRef(ui->ServerList->ItemIndex());
    ConnectionHandle handle = NoConnection;
    const ClientResult result = m_client.NWCCOpenConnByRef(ref, OpenStateDefault, 0, handle);
    LastResult = std::int32_t(result);
    m_openFailure = result;
    if (result == 0) {
        m_sampling.ConnHandle = handle;
    } else {
        // Behind the box the chart is already the new server's, and says why it stays empty;
        // its ticks ask nothing of a handle that is not open.
        ResetChart(Sender);
        m_sampling.Stopped = true;
    }
    CheckResult(result, QStringLiteral("NWCCOpenConnByRef"));

    ResetChart(Sender);
}

void TMainForm::Timer1Timer(QObject* Sender) {
    m_sampling.SampleTick(Sender);
    // The zeros a suspended sampling stores would read as an idle server: say why they are there.
    if (m_sampling.Stopped && ui->Chart1->Notice().isEmpty())
        ui->Chart1->SetNotice(SuspendedNotice(LastResult, m_sampling.LastReading));
    ui->Chart1->SetNewestIndex(std::min(m_sampling.SampleCount, WindowPoints) - 1);
}

void TMainForm::ResetChart(QObject* /*Sender*/) {
    ui->Chart1->ClearPoints();

    const int selected = ui->ServerList->ItemIndex();
    ui->Chart1->SetTitleLines(ui->ComboBox1->currentText(),
                              selected >= 0 ? std::optional(ui->ServerList->ItemText(selected))
                                            : std::nullopt);

    // No server to chart (the client did not start, or found no named connection): the
    // reset ends with the title's first line. The lines stay without points, the captions
    // and the sampling state stay as they are, and no box is shown.
    if (selected == -1)
        return;

    m_sampling.ResetSampling();
    ui->Chart1->SetNotice(m_openFailure != 0 ? UnopenedNotice(m_openFailure) : QString());
    ui->Chart1->FillZeros();

    const ModeTexts* texts = nullptr;
    switch (StatisticsMode()) {
    case int(StatisticsKind::Utilization):
        texts = &UtilizationTexts;
        break;
    case int(StatisticsKind::Caching):
        texts = &CachingTexts;
        break;
    default:
        return;
    }
    ui->CheckBox0->setText(QString::fromLatin1(texts->peaks));
    ui->CheckBox1->setText(QString::fromLatin1(texts->glide));
    ui->Chart1->SetSeriesTitles(ui->CheckBox0->text(), ui->CheckBox1->text());
    ui->Chart1->SetRightAxisAutomatic();
}

std::vector<ListedServer> TMainForm::ListedServers() const {
    std::vector<ListedServer> servers;
    for (int i = 0; i < ui->ServerList->Count(); ++i)
        servers.push_back({ui->ServerList->ItemText(i).toStdString(), ui->ServerList->ItemRef(i)});
    return servers;
}

void TMainForm::SetFleet(std::unique_ptr<FleetReadings> fleet) {
    m_overview->SetReadings(std::move(fleet));
}

void TMainForm::PickServer(ConnRef ref) {
    for (int i = 0; i < ui->ServerList->Count(); ++i) {
        if (ui->ServerList->ItemRef(i) == ref) {
            ui->ServerList->SetItemIndex(i); // reconnects and resets the chart, unless already picked
            ui->PageControl1->setCurrentWidget(ui->TabSheetServer);
            return;
        }
    }
    QApplication::beep();
}

void TMainForm::PlaceEntriesInTabOrder() {
    // The entries are made after the form has set its tab order, so they join the
    // end of the focus chain; the list comes before the selector and its neighbours.
    QWidget* previous = nullptr;
    const auto follow = [&previous](QWidget* next) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (QWidget* entry : ui->ServerList->Entries())
        follow(entry);
    for (QWidget* control :
         std::initializer_list<QWidget*>{ui->ComboBox1, ui->CheckBox0, ui->CheckBox1, ui->Chart1})
        follow(control);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_placed && isWindow() && !PlacedByCompositor()) {
        m_placed = true;
        CentreFrameOnScreen();
    }
}

bool TMainForm::event(QEvent* event) {
    // X11 window managers frame a window only once it is on the screen: if the frame
    // has changed by the time the window is first activated, centre it again, once.
    if (event->type() == QEvent::WindowActivate && m_placedWithBorders) {
        if (FrameBorders() != *m_placedWithBorders)
            CentreFrameOnScreen();
        m_placedWithBorders.reset();
    }
    return QWidget::event(event);
}

QMargins TMainForm::FrameBorders() const {
    return windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
}

void TMainForm::CentreFrameOnScreen() {
    // The window exists by now, so its frame is known wherever the window system
    // tells it before the window appears. The window is placed by its client area:
    // Qt may still hold an outdated frame for it, and would place a frame by that.
    m_placedWithBorders = FrameBorders();
    QRect frame = geometry().marginsAdded(*m_placedWithBorders);
    frame.moveCenter(screen()->availableGeometry().center());
    setGeometry(frame.marginsRemoved(*m_placedWithBorders));
}

int TMainForm::StatisticsMode() const {
    return ui->ComboBox1->currentIndex();
}

bool TMainForm::PeaksChecked() const {
    return ui->CheckBox0->isChecked();
}

bool TMainForm::GlideChecked() const {
    return ui->CheckBox1->isChecked();
}

void TMainForm::SetPoint(ChartSeries series, int index, std::int32_t value) {
    ui->Chart1->SetPoint(LineOf(series), index, value);
}
