// A job and the form: the job's form part read from a filled-in form (what `job create`
// pins), and a job put into a form for a person to see (the dialog opening a job).
//
//   JobFromForm(form, job)         the form's choices into `job`: a control that is hidden or
//                                  disabled contributes nothing, so that applying the job
//                                  never has to type into one
//   ApplyJob(form, answer, job)    the job's choices, each through the form's user actions
//                                  (the handlers run as for a click); false, with `why`, when
//                                  the form does not offer one of them
//   LockJobControls(form)          disables every control whose value changes what is sent
//                                  (product, versions, transfer, file, slave ID, line
//                                  settings, items); the port, the password and Download stay
#pragma once

#include <functional>
#include <string>

#include "production/JobFile.h"
#include "ui/TarvexDlg.h"

namespace tarvex::production {

void JobFromForm(const CTarvexDlg& form, Job& job);

using JobFileAnswer = std::function<void(std::string path)>;
bool ApplyJob(CTarvexDlg& form, const JobFileAnswer& answerOpenFile, const Job& job,
              std::string& why);

void LockJobControls(CTarvexDlg& form);

}  // namespace tarvex::production
