// A job and the form: the job's form part read from a filled-in form (what `job create`
// pins), and a job put into a form for a person to see (the dialog opening a job).
//
//   JobFromForm(form, job)         the form's choices into `job`: a control that is hidden or
//                                  disabled contributes nothing, so that applying the job
//                                  never has to type into one
//   ApplyJob(form, job, why)       the job's choices, each through the form's user actions
//                                  (the handlers run as for a click; the container as Browse
//                                  takes a confirmed file); false, with `why`, when the form
//                                  does not offer one of them
//   LockJobControls(form)          disables every control whose value changes what is sent
//                                  (product, versions, transfer, file, slave ID, line
//                                  settings, echo and RS-485, items); the port, the password
//                                  and Download stay
//   OpenJobReadOnly(form, job)     what a dialog does to show a job: the job applied, its
//                                  controls locked, the container checked; the problem to
//                                  show (and Download disabled) when the job cannot be shown as
//                                  it is or its container changed, else empty
#pragma once

#include <string>

#include "production/JobFile.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

void JobFromForm(const CTarvexDlg& form, Job& job);

bool ApplyJob(CTarvexDlg& form, const Job& job, std::string& why);

void LockJobControls(CTarvexDlg& form);

std::string OpenJobReadOnly(CTarvexDlg& form, const Job& job);

}  // namespace tarvex::production
