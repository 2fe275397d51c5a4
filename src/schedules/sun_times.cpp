#include "schedules/sun_times.hpp"

#include <ctime>

#include <libnova/julian_day.h>
#include <libnova/precession.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

namespace {

constexpr double kJ2000 = 2451545.0;

// The sun's altitude at `utcSeconds`, in degrees. libnova's solar position is referred to the
// equinox of J2000, and its rise and set use it so: precessed to the date, it is the sun's.
double sunAltitude(double utcSeconds, ln_lnlat_posn& observer) {
  const double jd = utcSeconds / 86400.0 + 2440587.5;
  ln_equ_posn j2000{};
  ln_get_solar_equ_coords(jd, &j2000);
  ln_equ_posn sun{};
  ln_get_equ_prec2(&j2000, kJ2000, jd, &sun);
  ln_hrz_posn seen{};
  ln_get_hrz_from_equ(&sun, &observer, jd, &seen);
  return seen.alt;
}

// libnova's rise and set, with the sun of J2000, are minutes off by now (two in Berlin at an
// equinox in 2026, more further north, and more each year): a few of Newton's steps on the
// sun's altitude of the date bring the time to the standard horizon, to the second.
std::int64_t refined(std::int64_t utcSeconds, ln_lnlat_posn& observer) {
  double t = static_cast<double>(utcSeconds);
  for (int step = 0; step < 4; ++step) {
    const double altitude = sunAltitude(t, observer) - LN_SOLAR_STANDART_HORIZON;
    const double perSecond = (sunAltitude(t + 30, observer) - sunAltitude(t - 30, observer)) / 60;
    // Near the poles the sun skims the horizon: the first guess is as good as any.
    if (perSecond > -1e-6 && perSecond < 1e-6)
      return utcSeconds;
    const double move = altitude / perSecond;
    if (move > 1800 || move < -1800)
      return utcSeconds;
    t -= move;
    if (move < 0.5 && move > -0.5)
      break;
  }
  return static_cast<std::int64_t>(t + 0.5);
}

}  // namespace

std::optional<std::int64_t> sunTime(SunEvent event, const Location& place, const LocalDate& date) {
  // libnova gives the events of a day of UT, where it finds one: each, moved by whole days onto
  // the local date and brought to the horizon, is a guess at the date's own. A guess from the
  // days beside it stands in on a day libnova misjudges at the edge of the polar day or night.
  ln_lnlat_posn observer{place.longitude, place.latitude};
  const std::int64_t begins = localInstant(date, 0) / 1000;
  const std::int64_t ends = localInstant(dateOfDay(dayNumber(date) + 1), 0) / 1000;
  const auto crosses = [&](std::int64_t t) {
    const double before = sunAltitude(static_cast<double>(t - 60), observer) - LN_SOLAR_STANDART_HORIZON;
    const double after = sunAltitude(static_cast<double>(t + 60), observer) - LN_SOLAR_STANDART_HORIZON;
    return event == SunEvent::Rise ? before < 0 && after > 0 : before > 0 && after < 0;
  };
  std::optional<std::int64_t> found;
  for (std::int64_t day = dayNumber(date) - 2; day <= dayNumber(date) + 2; ++day) {
    std::time_t noon = static_cast<std::time_t>(day * 86400 + 43200);
    ln_rst_time times{};
    if (ln_get_solar_rst(ln_get_julian_from_timet(&noon), &observer, &times) != 0)
      continue;
    std::time_t when = 0;
    ln_get_timet_from_julian(event == SunEvent::Rise ? times.rise : times.set, &when);
    for (std::int64_t shift = -2; shift <= 2; ++shift) {
      const std::int64_t guess = std::int64_t{when} + shift * 86400;
      if (guess < begins - 3600 || guess >= ends + 3600)
        continue;
      const std::int64_t at = refined(guess, observer);
      if (at >= begins && at < ends && crosses(at) && (!found || at < *found))
        found = at;
    }
  }
  if (!found)
    return std::nullopt;
  return *found * 1000;
}
