#ifndef VANTREL_SERVICE_FRONT_END_HPP
#define VANTREL_SERVICE_FRONT_END_HPP

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/input_view.hpp"
#include "service/units_service.hpp"
#include "units/units_file.hpp"

/// A front end of the units service: it takes commands from somewhere and
/// submits them to the service, and hears the service's changes as a
/// listener. vantreld runs each one the units file turns on; doc/design.md
/// says how to add one.
class FrontEnd : public ServiceListener {
 public:
  virtual ~FrontEnd() = default;
  /// Before the service starts: reads its files and takes its sockets, so
  /// that a problem ends vantreld before any unit hears from it. False
  /// with `problem`, one line.
  virtual bool open(std::string& problem) = 0;
  /// After a false open(): true when this front end cannot be had here and
  /// the others serve without it (`problem` is then a warning), false when
  /// vantreld must not serve.
  virtual bool absent() const { return false; }
  /// Once the service takes commands. False with `problem`, one line.
  virtual bool start(std::string& problem) = 0;
  /// After the service halts (UnitsService::halt()), so that what it says
  /// last holds the last confirmed levels, and before the service stops;
  /// within a second.
  virtual void stop() = 0;
  /// With --verbose, once every front end serves: where this one is
  /// reached, one line, or empty.
  virtual std::string servingNote() const { return {}; }

  /// Once open: the inputs it offers the other front ends to show an
  /// operator (the consoles'), each as long-lived as it is; none by default.
  virtual std::vector<const InputView*> inputViews() const { return {}; }
  /// Before start(): every front end's inputViews(), in their order, for
  /// one that shows them; by default it does not.
  virtual void showInputs(const std::vector<const InputView*>&) {}
};

/// Makes a front end on the service.
using FrontEndMaker = std::function<std::unique_ptr<FrontEnd>(UnitsService& service)>;

/// Reads a front end's own table of the units file (UnitsFile::frontEndTable())
/// and its keys of each unit (Unit::frontEndKeys), adding each problem where
/// it is: a maker when the file turns the front end on, an empty one when it
/// does not.
using FrontEndReader = std::function<FrontEndMaker(const UnitsFile& file, FileProblems& problems)>;

#endif
