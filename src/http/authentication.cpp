#include "http/authentication.h"

#include <list>
#include <mutex>
#include <utility>

#include "http/base64.h"
#include "http/text_search.h"
#include "rtl/sysutils.h"

TIdAuthentication::TIdAuthentication() { m_params.FoldOnSet = false; }

void TIdAuthentication::Reset() {
  m_attempts = 0;
  m_currentStep = 0;
}

void TIdAuthentication::SetAuthenticationParams(const TIdHeaderList& challenge) {
  if (!m_challenge) m_challenge = std::make_unique<TIdHeaderList>();
  m_challenge->Clear();
  m_challenge->AddStrings(challenge.Lines());
}

std::string TIdBasicAuthentication::CredentialsText() {
  return "Basic " + EncodeBase64(Username() + ":" + Password());
}

TIdAuthWhatsNext TIdBasicAuthentication::NextStep() {
  if (m_challenge) {
    for (const std::string& line : m_challenge->Lines()) {
      if (line.compare(0, 5, "Basic") != 0) continue;
      std::string rest = line;
      SplitAt(rest, " ");
      while (!rest.empty()) {
        std::string item = SplitAt(rest, ", ");
        const int equals = FindText("=", item);
        if (equals > 0) item.replace(static_cast<size_t>(equals - 1), 1, ": ");
        m_params.Add(item);
      }
      break;
    }
  }
  // The realm is sent quoted; a bare token is taken as it is.
  m_realm = m_params.ValueOf("realm");
  if (m_realm.size() >= 2 && m_realm.front() == '"' && m_realm.back() == '"') {
    m_realm = m_realm.substr(1, m_realm.size() - 2);
  }

  if (m_currentStep == 0) {
    ++m_attempts;
    return Username().empty() ? wnAskTheProgram : wnDoRequest;
  }
  return wnFail;
}

namespace {

// The registry lives from first use to process exit; "Basic" is in it from the start.
class AuthRegistry {
 public:
  AuthRegistry() {
    m_entries.emplace_back("Basic", TIdAuthenticationClass{"TIdBasicAuthentication", [] {
                                      return std::unique_ptr<TIdAuthentication>(
                                          std::make_unique<TIdBasicAuthentication>());
                                    }});
  }

  const TIdAuthenticationClass* Find(const std::string& word) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [registeredWord, authClass] : m_entries) {
      if (SameText(registeredWord, word)) return &authClass;
    }
    return nullptr;
  }

  void Register(const std::string& word, const TIdAuthenticationClass& authClass) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [registeredWord, registeredClass] : m_entries) {
      if (SameText(registeredWord, word)) {
        throw EIdAlreadyRegisteredAuthenticationMethod(
            Format("This authentication method is already registered with class name %s.",
                   registeredClass.ClassName.c_str()));
      }
    }
    m_entries.emplace_back(word, authClass);
  }

 private:
  std::mutex m_mutex;
  // Find hands out pointers into the entries, so they must never move when another is registered.
  std::list<std::pair<std::string, TIdAuthenticationClass>> m_entries;
};

AuthRegistry& Registry() {
  static AuthRegistry registry;
  return registry;
}

}  // namespace

const TIdAuthenticationClass* FindAuthClass(const std::string& schemeWord) { return Registry().Find(schemeWord); }

void RegisterAuthClass(const std::string& schemeWord, const TIdAuthenticationClass& authClass) {
  Registry().Register(schemeWord, authClass);
}
