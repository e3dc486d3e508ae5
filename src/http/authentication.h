#pragma once
// Authentication objects that answer a 401 or 407 challenge, the process-wide registry that maps a challenge's
// scheme word to a class, and the one scheme present: Basic.
#include <functional>
#include <memory>
#include <string>

#include "http/header_list.h"
#include "net/exceptions.h"

class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
 public:
  using EIdException::EIdException;
};

// What the client does after a step: ask the application for credentials, send the request, or give up.
enum TIdAuthWhatsNext { wnAskTheProgram = 0, wnDoRequest = 1, wnFail = 2 };

class TIdAuthentication {
 public:
  TIdAuthentication();
  virtual ~TIdAuthentication() = default;
  TIdAuthentication(const TIdAuthentication&) = delete;
  TIdAuthentication& operator=(const TIdAuthentication&) = delete;

  // The value for an "Authorization" (or "Proxy-Authorization") header.
  virtual std::string CredentialsText() = 0;
  // Consumes the challenge lines and says what comes next.
  virtual TIdAuthWhatsNext NextStep() = 0;
  virtual int Steps() const { return 0; }
  // Back to the first step with no attempts made.
  virtual void Reset();

  std::string Username() const { return m_params.ValueOf("username"); }
  void SetUsername(const std::string& value) { m_params.SetValue("Username", value); }
  std::string Password() const { return m_params.ValueOf("password"); }
  void SetPassword(const std::string& value) { m_params.SetValue("Password", value); }
  // The handler's own "Authorization" value: its credentials text as of the last challenge it was offered.
  void SetAuthorization(const std::string& value) { m_params.SetValue("Authorization", value); }

  // The credentials and, once a challenge was read, its parameters.
  const TIdHeaderList& Params() const { return m_params; }
  // Keeps a copy of the challenge lines ("WWW-Authenticate" or "Proxy-Authenticate" values).
  void SetAuthenticationParams(const TIdHeaderList& challenge);
  // Attempts made so far (one per step taken in the first step state).
  int CurrentAttempt() const { return m_attempts; }

 protected:
  TIdHeaderList m_params;
  std::unique_ptr<TIdHeaderList> m_challenge;  // created on first use
  int m_attempts = 0;
  int m_currentStep = 0;
};

class TIdBasicAuthentication : public TIdAuthentication {
 public:
  // "Basic " and the base64 form of user name ":" password, the bytes taken as they are.
  std::string CredentialsText() override;
  // Reads the first challenge starting with "Basic"; in the first step counts an attempt and asks to send the
  // request when a user name is set, else to ask the application; in a later step gives up.
  TIdAuthWhatsNext NextStep() override;
  int Steps() const override { return 1; }

  std::string Realm() const { return m_realm; }

 private:
  std::string m_realm;
};

// A class as the registry knows it: its name and how to make an instance.
struct TIdAuthenticationClass {
  std::string ClassName;
  std::function<std::unique_ptr<TIdAuthentication>()> Create;
};

// The class registered for a scheme word (compared without case), or nullptr. "Basic" is always registered.
const TIdAuthenticationClass* FindAuthClass(const std::string& schemeWord);
// Registers a class for a scheme word. Raises EIdAlreadyRegisteredAuthenticationMethod "This authentication
// method is already registered with class name <the registered class>." when the word is taken.
void RegisterAuthClass(const std::string& schemeWord, const TIdAuthenticationClass& authClass);
