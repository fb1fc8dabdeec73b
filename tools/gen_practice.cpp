// gen_practice: builds a demo practice database of any size from the test host
// schema, for the demo run and the benchmarks.
//
//   gen_practice [--customers N] [--seed S] [--today DAYNUMBER] OUT.db
//
// The same seed and size give the same practice; dates are laid out around
// today (or --today), so the appointment window of the export always finds
// appointments behind, inside and ahead of it. Texts are stored as
// Windows-1252 bytes, the way the host application stores them.
//
// What a practice holds, for N customers: about 2N horses (customers with
// none up to four, a few horses with two owners), N/8 stables (horses in none,
// one or two), 5N appointments (older than 90 days, within the last 90 days,
// ahead), about 2 orders per horse with their horses and lines, 60 articles,
// 40 services, 8 service groups, the settings rows, order types, shoeing
// intervals and suppliers. A few customers, horses, stables, appointments and
// articles are deactivated or in the recycle bin; every table has its
// placeholder row with id 0; _tblOffsets ends at the highest ids.

#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/environment.h"
#include "util/daynumber.h"
#include "util/encoding.h"

namespace {

using kelvanor::Utf8ToCp1252;

// A small generator of our own: std::mt19937 is portable, but the standard
// distributions are not, and a seed must give the same practice everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<size_t>(Below(static_cast<int>(items.size())))];
  }

 private:
  uint64_t state_;
};

// Word lists, written in UTF-8 here and stored as Windows-1252.
std::vector<std::string> Cp1252List(std::initializer_list<const char*> utf8) {
  std::vector<std::string> out;
  for (const char* s : utf8) out.push_back(Utf8ToCp1252(s));
  return out;
}

struct Words {
  std::vector<std::string> surnames = Cp1252List(
      {"Müller", "Schäfer", "Weiß", "Groß", "Böhm", "Köhler", "Krüger", "Jäger", "Bäcker",
       "Fuß", "Schröder", "Görtz", "Hönig", "Schmidt", "Meyer", "Wagner", "Becker", "Hoffmann",
       "Schulz", "Koch", "Richter", "Klein", "Wolf", "Neumann", "Schwarz", "Zimmermann",
       "Braun", "Hofmann", "Lange", "Schmitt", "Werner", "Krause", "Meier", "Lehmann",
       "Schmid", "Schulze", "Maier", "Köster", "Günther", "Dürr", "Straßer", "Nußbaum",
       "Preuß", "Märtens", "Blümel", "Lübke", "Öztürk", "Ärmel", "Übel", "Voß"});
  std::vector<std::string> firstNames = Cp1252List(
      {"Jürgen", "Sören", "Jörg", "Björn", "Günter", "Käthe", "Bärbel", "Jürgen", "Anna",
       "Lena", "Marie", "Sophie", "Hannah", "Lukas", "Felix", "Jonas", "Paul", "Leon", "Ute",
       "Gerd", "Heike", "Dörte", "Gisela", "Hans-Jürgen", "Ulf", "Özlem", "Änne", "Jörn",
       "Grete", "Maximilian"});
  std::vector<std::string> salutations = Cp1252List({"Herr", "Frau", "Familie", "Firma"});
  std::vector<std::string> streets = Cp1252List(
      {"Hauptstraße", "Lindenallee", "Mühlenweg", "Am Gänseanger", "Schloßstraße",
       "Bahnhofstraße", "Kirchgäßchen", "Feldweg", "Eichendorffstraße", "Große Straße",
       "Zur Koppel", "Hufschmiedweg", "Jägerstieg", "Am Fußacker", "Brückenstraße"});
  std::vector<std::string> towns = Cp1252List(
      {"München", "Köln", "Düsseldorf", "Lüneburg", "Fürth", "Göttingen", "Würzburg",
       "Bad Tölz", "Tübingen", "Saarbrücken", "Osnabrück", "Lübeck", "Nürnberg", "Gießen",
       "Völklingen", "Verden (Aller)", "Warendorf", "Celle"});
  std::vector<std::string> countries = Cp1252List({"Deutschland", "Österreich", "Schweiz"});
  std::vector<std::string> stableWords = Cp1252List(
      {"Reitstall", "Gestüt", "Pferdehof", "Reiterhof", "Pensionsstall", "Reitverein"});
  std::vector<std::string> stableNames = Cp1252List(
      {"Sonnenhof", "Lärchenhöhe", "Birkenhain", "Am Mühlbach", "Wiesengrund", "Eichenhöhe",
       "Rosenhof", "Grünewald", "Hufeisen", "Weißes Roß", "Möwenblick", "Fuchsbau"});
  std::vector<std::string> horseNames = Cp1252List(
      {"Blitz", "Fürst", "Jäger", "Stürmchen", "Lütte", "Möhre", "Äskulap", "Bärli", "Fury",
       "Max", "Luna", "Donnerhall", "Rubin", "Sternchen", "Schöne Else", "Gänseblümchen",
       "Wirbelwind", "Dörte", "Grauschimmel", "Zimtstern", "Goldjunge", "Nußknacker", "Flöckchen",
       "Hummel", "Lord", "Paula", "Quendel", "Rübezahl", "Sancho", "Tänzerin"});
  std::vector<std::string> subjects = Cp1252List(
      {"Beschlag", "Beschlag vorne", "Hufpflege", "Kontrolle", "Nachbeschlag", "Barhuf",
       "Beschlag; Kontrolle", "Eisen lose", "Hufgeschwür; Verband", "Orthopädischer Beschlag",
       "Beschlag <b>dringend</b>", "Kontrolle <i>Stollen</i>; Nachschau"});
  std::vector<std::string> articles = Cp1252List(
      {"Hufeisen vorne", "Hufeisen hinten", "Hufnägel E4", "Hufnägel E5", "Stollen M10",
       "Huföl", "Hufeinlage Leder", "Hufkitt", "Aufzüge", "Ledersohle", "Keileisen",
       "Klebeeisen", "Hufschuh", "Hufbalsam", "Gummipuffer", "Steckstollen", "Stiftstollen",
       "Polster", "Huflederfett", "Hufteer"});
  std::vector<std::string> services = Cp1252List(
      {"Beschlag komplett", "Beschlag vorne", "Beschlag hinten", "Hufpflege", "Barhufbearbeitung",
       "Anfahrt", "Eisen umlegen", "Nachbeschlag", "Orthopädischer Beschlag", "Klebebeschlag",
       "Hufschuhanpassung", "Beratung", "Notfalleinsatz", "Fohlenkorrektur",
       "Wochenendzuschlag", "Röntgenbesprechung", "Hufverband", "Stollenlöcher", "Kontrolle",
       "Rehe-Behandlung"});
  std::vector<std::string> serviceGroups = Cp1252List(
      {"Beschläge", "Hufpflege", "Anfahrten", "Orthopädie", "Notdienst", "Beratung",
       "Zuschläge", "Sonstiges"});
};

// One value of a row: NULL, an integer, a number or a text.
using Value = std::variant<std::nullptr_t, int64_t, double, std::string>;

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      throw std::runtime_error("cannot create " + path + ": " + sqlite3_errmsg(db_));
    }
  }
  ~Database() {
    for (auto& s : statements_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error("SQL failed: " + msg);
    }
  }

  // A prepared INSERT, reused for every row of its table.
  class Insert {
   public:
    Insert(Database& db, const std::string& sql) : db_(db) {
      if (sqlite3_prepare_v2(db.db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
        throw std::runtime_error("prepare failed: " + std::string(sqlite3_errmsg(db.db_)) +
                                 " in " + sql);
      }
      db.statements_.push_back(stmt_);
    }
    void Row(std::initializer_list<Value> values) {
      int i = 1;
      for (const Value& v : values) {
        if (std::holds_alternative<std::nullptr_t>(v)) {
          sqlite3_bind_null(stmt_, i);
        } else if (auto n = std::get_if<int64_t>(&v)) {
          sqlite3_bind_int64(stmt_, i, *n);
        } else if (auto d = std::get_if<double>(&v)) {
          sqlite3_bind_double(stmt_, i, *d);
        } else {
          const std::string& s = std::get<std::string>(v);
          sqlite3_bind_text(stmt_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        }
        ++i;
      }
      if (sqlite3_step(stmt_) != SQLITE_DONE) {
        throw std::runtime_error("insert failed: " + std::string(sqlite3_errmsg(db_.db_)));
      }
      sqlite3_reset(stmt_);
    }

   private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
  };

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

Value I(int64_t v) { return Value(v); }
Value D(double v) { return Value(v); }
Value T(const std::string& v) { return Value(v); }
const Value kNull = Value(nullptr);

std::string Digits(Random& rnd, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += static_cast<char>('0' + rnd.Below(10));
  return s;
}

// Letters a mail address can hold, from a Windows-1252 name.
std::string MailPart(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    switch (c) {
      case 0xE4: case 0xC4: out += "ae"; break;
      case 0xF6: case 0xD6: out += "oe"; break;
      case 0xFC: case 0xDC: out += "ue"; break;
      case 0xDF: out += "ss"; break;
      default:
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += static_cast<char>(c);
        else if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

double Price(Random& rnd, int loCents, int hiCents) { return rnd.Between(loCents, hiCents) / 100.0; }

// A time of day between 7:00 and 18:00 in quarter hours, as a day fraction.
double TimeOfDay(Random& rnd) { return (7 * 4 + rnd.Below(11 * 4)) / 96.0; }

struct Options {
  int customers = 40;
  uint64_t seed = 1;
  double today = 0;  // 0: the current date
  std::string out;
};

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "%s\nusage: gen_practice [--customers N] [--seed S] [--today DAYNUMBER] OUT.db\n",
               why.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--customers") {
      o.customers = std::atoi(value().c_str());
      if (o.customers < 1) Usage("--customers must be at least 1");
    } else if (arg == "--seed") {
      o.seed = std::strtoull(value().c_str(), nullptr, 10);
    } else if (arg == "--today") {
      o.today = std::floor(std::atof(value().c_str()));
    } else if (!arg.empty() && arg[0] == '-') {
      Usage("unknown option " + arg);
    } else if (o.out.empty()) {
      o.out = arg;
    } else {
      Usage("only one output file");
    }
  }
  if (o.out.empty()) Usage("no output file");
  if (o.today == 0) o.today = std::floor(kelvanor::NowDayNumber());
  return o;
}

std::string ReadSchema() {
  std::ifstream in(std::string(KELVANOR_SOURCE_DIR) + "/tests/fixtures/host_schema.sql");
  if (!in) throw std::runtime_error("host_schema.sql not found under " KELVANOR_SOURCE_DIR);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Counts {
  int customers = 0, horses = 0, stables = 0, appointments = 0, orders = 0, orderHorses = 0;
};

// The practice's list of shoeing intervals (zbeschlagsrhythmus, besides its
// empty row 0); every horse has one of them, as the host only offers these.
const std::vector<std::pair<int, std::string>> kShoeingIntervals = {
    {4, "4 Wochen"}, {6, "6 Wochen"}, {8, "8 Wochen"}, {10, "10 Wochen"}, {12, "12 Wochen"}};

Counts Generate(Database& db, const Options& o) {
  Random rnd(o.seed);
  const Words w;
  Counts n;
  const double today = o.today;
  const std::string by = "ADMIN";

  // Placeholder rows: the host keeps a row with id 0 in its main tables.
  db.Exec(
      "INSERT INTO besitzer (id, name, papierkorb, deaktiv) VALUES (0, '', 0, 0);"
      "INSERT INTO stall (id, name, papierkorb) VALUES (0, '', 0);"
      "INSERT INTO pferd (id, name, papierkorb, deaktiv) VALUES (0, '', 0, 0);"
      "INSERT INTO termine (id, papierkorb) VALUES (0, 0);"
      "INSERT INTO artikel (id, bezeichnung, papierkorb) VALUES (0, '', 0);"
      "INSERT INTO leistungen (id, bezeichnung, papierkorb) VALUES (0, '', 0);"
      "INSERT INTO leistgruppen (id, bezeichnung, papierkorb) VALUES (0, '', 0);");

  Database::Insert papierkorb(db,
      "INSERT INTO papierkorb (id, name, tabelle, loeschdatum, [index], typ) "
      "VALUES (?, ?, ?, ?, ?, 0)");
  int papierkorbId = 0;
  auto recycled = [&](int percent, const std::string& name, const char* table, int id) {
    if (!rnd.Chance(percent)) return false;
    papierkorb.Row({I(++papierkorbId), T(name), T(table), D(today - rnd.Between(1, 400)), I(id)});
    return true;
  };

  // Customers.
  Database::Insert customer(db,
      "INSERT INTO besitzer (id, anrede, name, vorname, kundennr, telefon, strasse, plz, ort, "
      "land, email, preisstufe, telefonhandy, debitornr, aufgenommenam, erstelltam, erstelltvon, "
      "papierkorb, deaktiv) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  std::vector<std::string> customerNames(static_cast<size_t>(o.customers) + 1);
  std::vector<std::string> customerTowns(static_cast<size_t>(o.customers) + 1);
  std::vector<bool> customerLive(static_cast<size_t>(o.customers) + 1);
  for (int id = 1; id <= o.customers; ++id) {
    const std::string name = rnd.Pick(w.surnames);
    const std::string first = rnd.Pick(w.firstNames);
    std::string street = rnd.Pick(w.streets) + " " + std::to_string(rnd.Between(1, 140));
    std::string email = MailPart(first) + "." + MailPart(name) + "@example.de";
    // Every so often a customer whose fields run past the mobile's 150 characters.
    if (rnd.Chance(2)) {
      street += Utf8ToCp1252(" (Hintereingang über den Hof, dann links am großen Scheunentor "
                             "vorbei bis zur Sattelkammer)");
      email = MailPart(first) + "." + MailPart(name) + ".reitbetrieb.und.pferdepension@example.de";
    }
    const std::string town = rnd.Pick(w.towns);
    const bool deactivated = rnd.Chance(3);
    const bool inBin = recycled(2, name, "besitzer", id);
    customerNames[static_cast<size_t>(id)] = name;
    customerTowns[static_cast<size_t>(id)] = town;
    customerLive[static_cast<size_t>(id)] = !deactivated && !inBin;
    customer.Row({I(id), T(rnd.Pick(w.salutations)), T(name), T(first),
                  T("K" + std::to_string(10000 + id)), T("0" + Digits(rnd, 4) + "/" + Digits(rnd, 6)),
                  T(street), T(Digits(rnd, 5)), T(town),
                  rnd.Chance(90) ? T(w.countries[0]) : T(rnd.Pick(w.countries)),
                  rnd.Chance(15) ? kNull : T(email), rnd.Chance(10) ? kNull : I(rnd.Between(1, 5)),
                  rnd.Chance(30) ? kNull : T("01" + Digits(rnd, 2) + " " + Digits(rnd, 7)),
                  I(70000 + id), D(today - rnd.Between(30, 4000)),
                  D(today - rnd.Between(30, 4000) + TimeOfDay(rnd)), T(by), I(inBin ? 1 : 0),
                  I(deactivated ? 1 : 0)});
  }
  n.customers = o.customers;

  // Stables.
  const int stableCount = std::max(3, o.customers / 8);
  Database::Insert stable(db,
      "INSERT INTO stall (id, name, ansprechpartner, telefon, strasse, plz, ort, land, "
      "erstelltam, erstelltvon, papierkorb) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
  for (int id = 1; id <= stableCount; ++id) {
    const std::string name = rnd.Pick(w.stableWords) + " " + rnd.Pick(w.stableNames);
    const bool inBin = recycled(4, name, "stall", id);
    stable.Row({I(id), T(name), T(rnd.Pick(w.firstNames) + " " + rnd.Pick(w.surnames)),
                T("0" + Digits(rnd, 4) + "/" + Digits(rnd, 5)),
                T(rnd.Pick(w.streets) + " " + std::to_string(rnd.Between(1, 60))),
                T(Digits(rnd, 5)), T(rnd.Pick(w.towns)), T(w.countries[0]),
                D(today - rnd.Between(100, 3000)), T(by), I(inBin ? 1 : 0)});
  }
  n.stables = stableCount;

  // Horses, their owners and stables. Customers own none up to four horses.
  Database::Insert horse(db,
      "INSERT INTO pferd (id, name, beschlagsrhythmus, naechsterbeschlag, erstelltam, "
      "erstelltvon, papierkorb, deaktiv) VALUES (?,?,?,?,?,?,?,?)");
  Database::Insert owner(db,
      "INSERT INTO verbind (id, pferdindex, besitzerindex) VALUES (?,?,?)");
  Database::Insert horseStable(db,
      "INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (?,?,?)");
  std::vector<int> horseOwner(1, 0);
  int horseId = 0, ownerId = 0, horseStableId = 0;
  for (int c = 1; c <= o.customers; ++c) {
    const int roll = rnd.Below(100);
    const int count = roll < 8 ? 0 : roll < 28 ? 1 : roll < 73 ? 2 : roll < 88 ? 3 : 4;
    for (int k = 0; k < count; ++k) {
      const int id = ++horseId;
      const std::string name = rnd.Pick(w.horseNames) +
                               (rnd.Chance(40) ? " " + std::to_string(rnd.Between(1, 9)) : "");
      const bool deactivated = rnd.Chance(3);
      const bool inBin = recycled(2, name, "pferd", id);
      horse.Row({I(id), T(name), I(rnd.Pick(kShoeingIntervals).first),
                 rnd.Chance(10) ? kNull : D(today + rnd.Between(-10, 70)),
                 D(today - rnd.Between(30, 3000)), T(by), I(inBin ? 1 : 0),
                 I(deactivated ? 1 : 0)});
      horseOwner.push_back(c);
      owner.Row({I(++ownerId), I(id), I(c)});
      // A few horses belong to two customers.
      if (rnd.Chance(2) && o.customers > 1) {
        owner.Row({I(++ownerId), I(id), I(rnd.Between(1, o.customers))});
      }
      const int stables = rnd.Chance(15) ? 0 : rnd.Chance(88) ? 1 : 2;
      for (int s = 0; s < stables; ++s) {
        horseStable.Row({I(++horseStableId), I(rnd.Between(1, stableCount)), I(id)});
      }
    }
  }
  n.horses = horseId;

  // Appointments: 40% long past, 30% within the last 90 days, 30% ahead.
  Database::Insert appointment(db,
      "INSERT INTO termine (id, beginn, beginnzeit, ende, endezeit, thema, ort, ursprung, "
      "bemerkung, msoutlook, erstelltam, erstelltvon, papierkorb) "
      "VALUES (?,?,?,?,?,?,?,?,?,0,?,?,?)");
  const int appointmentCount = o.customers * 5;
  for (int id = 1; id <= appointmentCount; ++id) {
    const int roll = rnd.Below(100);
    const double day = roll < 40 ? today - rnd.Between(91, 700)
                       : roll < 70 ? today - rnd.Between(0, 89)
                                   : today + rnd.Between(1, 120);
    const double start = TimeOfDay(rnd);
    const int c = rnd.Between(1, o.customers);
    std::string subject = rnd.Pick(w.subjects);
    if (horseId > 0 && rnd.Chance(50)) subject += " " + rnd.Pick(w.horseNames);
    const bool inBin = rnd.Chance(2);
    appointment.Row({I(id), D(day), D(start), D(day),
                     rnd.Chance(5) ? kNull : D(start + rnd.Between(2, 6) / 96.0), T(subject),
                     T(customerTowns[static_cast<size_t>(c)]), T("T"),
                     rnd.Chance(20) ? T(Utf8ToCp1252("Kunde möchte vorher anrufen")) : kNull,
                     D(day - rnd.Between(1, 30)), T(by), I(inBin ? 1 : 0)});
  }
  n.appointments = appointmentCount;

  // Articles, services and service groups.
  Database::Insert article(db,
      "INSERT INTO artikel (id, nr, bezeichnung, mwst, vkpreis1, vkpreis2, vkpreis3, vkpreis4, "
      "vkpreis5, vkpreis1euro, vkpreis2euro, vkpreis3euro, vkpreis4euro, vkpreis5euro, "
      "erstelltam, erstelltvon, papierkorb) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  for (int id = 1; id <= 60; ++id) {
    const double euro = Price(rnd, 150, 12000);
    const std::string name =
        rnd.Pick(w.articles) + (id > 20 ? " Gr. " + std::to_string(rnd.Between(0, 5)) : "");
    article.Row({I(id), T("A" + std::to_string(1000 + id)), T(name),
                 D(rnd.Chance(85) ? 19.0 : 7.0), D(std::round(euro * 108) / 100),
                 D(std::round(euro * 113) / 100), D(std::round(euro * 118) / 100), kNull, kNull,
                 D(euro), D(std::round(euro * 105) / 100), D(std::round(euro * 110) / 100),
                 rnd.Chance(50) ? kNull : D(std::round(euro * 115) / 100), kNull,
                 D(today - rnd.Between(100, 3000)), T(by), I(rnd.Chance(5) ? 1 : 0)});
  }
  Database::Insert service(db,
      "INSERT INTO leistungen (id, nr, bezeichnung, mwst, arbeitsdauer, preis1, preis2, preis3, "
      "preis4, preis5, preis1euro, preis2euro, preis3euro, preis4euro, preis5euro, erstelltam, "
      "erstelltvon, papierkorb) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  for (int id = 1; id <= 40; ++id) {
    const double euro = Price(rnd, 1000, 25000);
    service.Row({I(id), T("L" + std::to_string(100 + id)),
                 T(w.services[static_cast<size_t>((id - 1) % 20)] +
                   (id > 20 ? " (Pony)" : "")),
                 D(19.0), I(rnd.Between(1, 8) * 15), D(std::round(euro * 108) / 100),
                 D(std::round(euro * 112) / 100), kNull, kNull, kNull, D(euro),
                 D(std::round(euro * 104) / 100), D(std::round(euro * 108) / 100), kNull, kNull,
                 D(today - rnd.Between(100, 3000)), T(by), I(rnd.Chance(5) ? 1 : 0)});
  }
  Database::Insert group(db,
      "INSERT INTO leistgruppen (id, bezeichnung, papierkorb) VALUES (?,?,?)");
  for (int id = 1; id <= 8; ++id) {
    group.Row({I(id), T(w.serviceGroups[static_cast<size_t>(id - 1)]), I(id == 8 ? 1 : 0)});
  }

  // Orders: about two per horse, each with its horse (sometimes a second one
  // of the same customer) and one to three lines. Some horses were never on
  // an order; a few order-horse links carry no date.
  Database::Insert order(db,
      "INSERT INTO auftrag (id, auftragstyp, bezeichnung, besitzerindex, termin, abgerechnetam, "
      "gedrucktam, rechnungsnr, abgerechnet, bezahlt, waehrung, npreisstufe, rechbetrag, "
      "rechbetrag2, davonbezahlt, adresse, sAuftyp, skonto, mwst, erstelltam, erstelltvon, "
      "papierkorb) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,0)");
  Database::Insert orderHorse(db,
      "INSERT INTO vbauftragpferd (nid, nauftragindex, npferdindex, nhufprotokoll, termin) "
      "VALUES (?,?,?,0,?)");
  Database::Insert orderLine(db,
      "INSERT INTO verbindauftrag (id, auftragindex, nvbauftragindex, anzahl, typ, [index], nr, "
      "bezeichnung, preis, dauer, mwst) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
  int orderId = 0, orderHorseId = 0, orderLineId = 0;
  for (int h = 1; h <= horseId; ++h) {
    if (rnd.Chance(10)) continue;
    const int orders = rnd.Between(1, 3);
    const int c = horseOwner[static_cast<size_t>(h)];
    for (int k = 0; k < orders; ++k) {
      const int id = ++orderId;
      const double day = today - rnd.Between(1, 720);
      const bool billed = rnd.Chance(80);
      const int lines = rnd.Between(1, 3);
      double total = 0;
      for (int l = 0; l < lines; ++l) {
        const bool isService = rnd.Chance(60);
        const int ref = isService ? rnd.Between(1, 40) : rnd.Between(1, 60);
        const int count = isService ? 1 : rnd.Between(1, 4);
        const double price = isService ? Price(rnd, 1500, 9000) : Price(rnd, 200, 4000);
        total += count * price;
        orderLine.Row({I(++orderLineId), I(id), I(ref), I(count), I(isService ? 1 : 0), I(l + 1),
                       T((isService ? "L" : "A") + std::to_string(ref)),
                       T(isService ? w.services[static_cast<size_t>((ref - 1) % 20)]
                                   : rnd.Pick(w.articles)),
                       D(price), D(isService ? 0.5 : 0.0), D(19.0)});
      }
      order.Row({I(id), I(rnd.Between(1, 3)),
                 T(Utf8ToCp1252("Auftrag für ") + customerNames[static_cast<size_t>(c)]), I(c),
                 D(day), billed ? D(day + rnd.Between(0, 5)) : kNull,
                 billed ? D(day + rnd.Between(0, 5)) : kNull,
                 billed ? T("R" + std::to_string(20000 + id)) : kNull, I(billed ? 1 : 0),
                 I(billed && rnd.Chance(85) ? 1 : 0), I(1), I(rnd.Between(1, 5)),
                 D(std::round(total * 119) / 100), D(0.0),
                 D(billed ? std::round(total * 119) / 100 : 0.0), kNull, T("Rechnung"), D(0.0),
                 D(19.0), D(day), T(by)});
      orderHorse.Row({I(++orderHorseId), I(id), I(h), rnd.Chance(3) ? D(0.0) : D(day)});
      // A second horse of the same customer on the same order.
      if (h > 1 && horseOwner[static_cast<size_t>(h - 1)] == c && rnd.Chance(15)) {
        orderHorse.Row({I(++orderHorseId), I(id), I(h - 1), D(day)});
      }
    }
  }
  n.orders = orderId;
  n.orderHorses = orderHorseId;

  // Settings, the practice's address, lookups, suppliers.
  db.Exec(
      "INSERT INTO settings (nid, basiswaehrung, hauptwaehrung, MwSt, MwSt2, nabrechnungstyp) "
      "VALUES (1, 'EUR', 1, 19, 7, 0);");
  Database::Insert mandant(db,
      "INSERT INTO settingsmandant (nid, vorname, name, strasse, plz, ort, land, mobil, email, "
      "bank1, konto1, blz1, iban1, bicswift1, bank2, konto2, blz2, iban2, bicswift2, ustidnummer) "
      "VALUES (1,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  mandant.Row({T(Utf8ToCp1252("Jürgen")), T(Utf8ToCp1252("Großmann")),
               T(Utf8ToCp1252("Schmiedegäßchen 3")), T("21335"), T(Utf8ToCp1252("Lüneburg")),
               T("Deutschland"), T("0171 5550123"), T("info@hufbeschlag-grossmann.example"),
               T(Utf8ToCp1252("Sparkasse Lüneburg")), T("1234567"), T("24050110"),
               T("DE12240501100001234567"), T("NOLADE21LBG"), T("Volksbank"), T("7654321"),
               T("24060300"), T(""), T(""), T("DE123456789")});
  db.Exec(
      "INSERT INTO zauftragstyp (nid, text) VALUES (0, 'Standard'), (1, 'Auftrag'), "
      "(2, 'Lieferschein'), (3, 'Rechnung'), (4, 'Barverkauf'), (10, 'Mobil');");
  Database::Insert interval(db, "INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (?, ?)");
  interval.Row({I(0), T("")});
  for (const auto& [nid, text] : kShoeingIntervals) interval.Row({I(nid), T(text)});
  Database::Insert supplier(db, "INSERT INTO lieferant (id, name) VALUES (?, ?)");
  supplier.Row({I(0), T("")});
  supplier.Row({I(1), T(Utf8ToCp1252("Hufbedarf Müller GmbH"))});
  supplier.Row({I(2), T(Utf8ToCp1252("Schmiedeeisen Köhler KG"))});
  supplier.Row({I(3), T(Utf8ToCp1252("Pferdesport Weiß"))});

  // The host's id counters stand at the highest ids handed out.
  const char* const counters[][3] = {
      {"besitzer", "besitzer", "id"}, {"stall", "stall", "id"}, {"pferd", "pferd", "id"},
      {"verbind", "verbind", "id"}, {"verbindstall", "verbindstall", "id"},
      {"termine", "termine", "id"}, {"artikel", "artikel", "id"},
      {"leistungen", "leistungen", "id"}, {"leistgruppen", "leistgruppen", "id"},
      {"auftrag", "auftrag", "id"}, {"verbindauftrag", "verbindauftrag", "id"},
      {"vbauftragpferd", "vbauftragpferd", "nid"}, {"verbindbeschlag", "verbindbeschlag", "id"},
      {"kasse", "kasse", "id"}, {"lieferant", "lieferant", "id"},
      {"papierkorb", "papierkorb", "id"}};
  for (const auto& c : counters) {
    db.Exec(std::string("UPDATE _tblOffsets SET idMax = (SELECT COALESCE(MAX(") + c[2] +
            "), 0) FROM " + c[1] + ") WHERE LOWER(tbl) = '" + c[0] + "';");
  }
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  try {
    const std::string schema = ReadSchema();
    // A fresh file every time; a stale journal would belong to the old one.
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      ::unlink((o.out + suffix).c_str());
    }
    Database db(o.out);
    db.Exec(schema);
    db.Exec("BEGIN TRANSACTION;");
    const Counts n = Generate(db, o);
    db.Exec("COMMIT;");
    std::printf(
        "%s: %d customers, %d horses, %d stables, %d appointments, %d orders (%d order horses)\n",
        o.out.c_str(), n.customers, n.horses, n.stables, n.appointments, n.orders,
        n.orderHorses);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_practice: %s\n", e.what());
    return 1;
  }
  return 0;
}
