#include "ui/mpris/mpris_player_adaptor.h"

#include "frontend/media_player_model.h"
#include "ui/mpris/media_player_service.h"

namespace korvanel {

MprisPlayerAdaptor::MprisPlayerAdaptor(MediaPlayerService& service)
    : QDBusAbstractAdaptor(&service), service_(service) {}

QString MprisPlayerAdaptor::playbackStatus() const {
    return QString::fromLatin1(MediaPlayerModel::statusName(service_.state().status));
}

QVariantMap MprisPlayerAdaptor::metadata() const { return service_.metadata(); }

double MprisPlayerAdaptor::volume() const { return service_.state().volume; }

void MprisPlayerAdaptor::setVolume(double volume) { service_.setVolume(volume); }

bool MprisPlayerAdaptor::canGoNext() const { return service_.state().canGoNext; }

bool MprisPlayerAdaptor::canGoPrevious() const { return service_.state().canGoPrevious; }

bool MprisPlayerAdaptor::canPause() const { return service_.state().canStop; }

void MprisPlayerAdaptor::Next() { service_.next(); }

void MprisPlayerAdaptor::Previous() { service_.previous(); }

void MprisPlayerAdaptor::Pause() { service_.stop(); }

void MprisPlayerAdaptor::PlayPause() { service_.playPause(); }

void MprisPlayerAdaptor::Stop() { service_.stop(); }

void MprisPlayerAdaptor::Play() { service_.play(); }

void MprisPlayerAdaptor::OpenUri(const QString& uri) { service_.openUri(uri); }

}  // namespace korvanel
