// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The one window: an Info page with the text of "Read.me", and a page with
// the connection list, the statistics selector and the live chart.

#include "ClientFleet.h"
#include "ClientLibrary.h"
#include "FleetReadings.h"
#include "SampleView.h"
#include "SamplingState.h"

#include <QMargins>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TMainForm;
}

class OverviewPage;

class TMainForm : public QWidget, public SampleView {
    Q_OBJECT
public:
    /* Builds the window and runs FormCreate; `client` must outlive the window. */
    explicit TMainForm(ClientLibrary& client, QWidget* parent = nullptr);
    ~TMainForm() override;

    /* Start-up: Info page, "Read.me", client start, connection list, first server, chart, timer. */
    void FormCreate(QObject* Sender);
    /* A new server was selected: close the old connection, open the new one, restart the chart. */
    void ServerListClick(QObject* Sender);
    /* One sampling tick. */
    void Timer1Timer(QObject* Sender);
    /* Empties the chart and the histories and retitles everything for the chosen statistic and
     * server. Without a selected server it only writes the title's first line. */
    void ResetChart(QObject* Sender);

    int StatisticsMode() const override;
    bool PeaksChecked() const override;
    bool GlideChecked() const override;
    void SetPoint(ChartSeries series, int index, std::int32_t value) override;

    /* The servers of the connection list, in its order. */
    std::vector<ListedServer> ListedServers() const;
    /* Where the overview page takes its readings from; by default the client's own operations
       on every listed server. */
    void SetFleet(std::unique_ptr<FleetReadings> fleet);
    /* Selects the server in the connection list as a user's pick would, and shows its page. */
    void PickServer(ConnRef ref);

    /* The sampling state, for those that drive or inspect it. */
    SamplingState& Sampling() { return m_sampling; }

protected:
    /* The first time the window is shown, its frame is centred on the screen's free area,
       except under Wayland, where the compositor places it. */
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    /* Puts the connection list's entries in the list's place in the tab order. */
    void PlaceEntriesInTabOrder();
    void CentreFrameOnScreen();
    /* The borders the window system puts round the window, as far as it knows them yet. */
    QMargins FrameBorders() const;

    std::unique_ptr<Ui::TMainForm> ui;
    ClientLibrary& m_client;
    SamplingState m_sampling;
    QTimer Timer1;
    OverviewPage* m_overview;
    /* The code of the selected server's failed open, 0 when it opened. */
    ClientResult m_openFailure = 0;
    bool m_placed = false;
    // The frame's borders as they were known when the window was centred, until it is
    // first activated.
    std::optional<QMargins> m_placedWithBorders;
};
