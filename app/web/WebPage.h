#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "app/audio/frequencies/SpectrumFeed.h"
#include "app/control/ControllerObserver.h"
#include "app/remote/CommandAccess.h"
#include "app/settings/SettingsModel.h"

class KestranoController;
class PageServer;

// The browser page, served where webPort and webAddress say (no port: no page) and moved when
// they change; the status line says where, or why it cannot be. While a page is open it gets each
// new state the controller tells of (the tick's, twenty a second, and a beat's or a turn's between
// them, at most one per `shortestGap`), and the spectrum is worked out for it; its changes go
// through the model where remote control admits the browser's address, and it is told it is
// read-only and why everywhere else. It must be added to the controller's observers; the
// controller and `spectra` must outlive it.
class WebPage : public ControllerObserver {
  public:
    // Sent with the tick's own wake-up rather than on a timer of the page's: a program with pages
    // open wakes no more often than one without.
    static constexpr std::chrono::milliseconds shortestGap{10};
    // The spectrum goes with the state each time a new one was worked out: ten a second is live
    // to the eye, and the analysis for a page alone costs a third of the window's.
    static constexpr int spectraPerSecond = 10;
    static constexpr std::chrono::seconds noteSpacing{1};
    static constexpr std::chrono::seconds spectrumKept{10};

    WebPage(KestranoController& controller, SpectrumFeed& spectra);
    ~WebPage() override;
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    void controllerPropertyChanged(ControllerProperty /*property*/) override {}
    void controllerSettingChanged(std::string_view /*key*/) override { setupChanged_ = true; }
    void controllerStatusChanged(const ControllerStatus& status) override;

  private:
    // Listens where the settings say now, or says why not.
    void serve();
    void pagesChanged();
    // Tells in the status line how many pages are open, and what was turned away: at once, or,
    // when it was told less than `noteSpacing` ago, then. A stranger opening and dropping pages
    // hundreds of times a second makes one status line a second, not one a page.
    void showPages();
    void writePageNote();
    QByteArray answer(const QByteArray& message, const QHostAddress& from);
    // Whether a page at `from` may change anything, and if not, why.
    QByteArray accessMessage(const QHostAddress& from) const;
    std::string readOnlyReason(const QHostAddress& from) const;

    KestranoController& controller_;
    SpectrumFeed& spectra_;
    CommandAccess access_;
    std::unique_ptr<PageServer> server_;
    // Where the page is served, as the status says it; empty while it is not.
    std::string served_;
    std::unique_ptr<SpectrumFeed::Hold> spectrumHold_;
    FrequencyAnalyser::Spectrum spectrum_;
    std::chrono::steady_clock::time_point lastSent_{};
    // Whether a setting changed since the setup was last made.
    bool setupChanged_ = true;
    // The list of presets on disk as the last setup showed it.
    uint64_t presetListChanges_ = 0;
    // When the setup was last made again for a page that came.
    std::chrono::steady_clock::time_point setupForArrival_{};
    QTimer noteSpacing_;
    bool noteDue_ = false;
    // The spectrum's analysis is let go this long after the last page went, so that pages that
    // come and go (a reload, a stranger reconnecting) do not set it up each time.
    QTimer spectrumRelease_;
    SettingsModel::Subscription subscription_;
};
