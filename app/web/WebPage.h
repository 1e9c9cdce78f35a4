#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTimer>
#include <memory>
#include <string>

#include "app/audio/frequencies/SpectrumFeed.h"
#include "app/remote/CommandAccess.h"
#include "app/settings/SettingsModel.h"

class KestranoController;
class PageServer;

// The browser page, served where webPort and webAddress say (no port: no page) and moved when
// they change; the status line says where, or why it cannot be. While a page is open it gets the
// newest state `updatesPerSecond` times a second and the spectrum is worked out for it; its
// changes go through the model where remote control admits the browser's address, and it is
// told it is read-only and why everywhere else. The controller and `spectra` must outlive it.
class WebPage {
  public:
    static constexpr int updatesPerSecond = 25;

    WebPage(KestranoController& controller, SpectrumFeed& spectra);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

  private:
    // Listens where the settings say now, or says why not.
    void serve();
    void pagesChanged();
    void sendState();
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
    QTimer updateTimer_;
    SettingsModel::Subscription subscription_;
};
