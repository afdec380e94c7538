// The manager and the agent over mutual TLS: who is served, who is refused,
// and what each side says about it.
#include <gtest/gtest.h>

#include "net/agent/agent_server.h"
#include "tests/client/client_fixture.h"
#include "tests/support/log_lines.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_certificates.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using test::Outcomes;

class ClientAgentTlsTest : public test::ClientTest {
  protected:
    void StartAgent(const TlsFiles& tls, bool accept_claimed_names = true) {
        AgentOptions options;
        options.accept_claimed_names = accept_claimed_names;
        options.port = 0;
        options.wait_interval = 50ms;
        options.tls = tls;
        agent_ = std::make_unique<AgentServer>(sim_.transport_, options);
        ASSERT_EQ(agent_->Start(), kOk) << agent_->StartError();
        agent_->SetAuthorized({u"test-manager"});
    }
    std::unique_ptr<CSesClient> Client(const TlsFiles* tls) {
        ClientOptions options = Options();
        if (tls) {
            std::string error;
            options.tls = TlsContext::Create(TlsRole::kManager, *tls, error);
            EXPECT_TRUE(options.tls) << error;
        }
        auto client = std::make_unique<CSesClient>(test::Loopback(agent_->port()), options);
        EXPECT_EQ(client->Start(), kOk);
        return client;
    }
    bool Ready(CSesClient& client) {
        return test::Eventually([&] {
            client.DeliverCompleted();
            return client.state() == kStateReady;
        });
    }
    bool FailsWith(CSesClient& client, int code) {
        return test::Eventually([&] {
            client.DeliverCompleted();
            return client.last_failure() == code;
        });
    }
    static TlsFiles AgentFiles(const test::TestCertificates& pki) {
        return {pki.ca, pki.agent.cert, pki.agent.key};
    }

    test::LogLines log_;
    test::TestCertificates pki_;
    test::SimFixture sim_{test::LoadShippedScenario("jbod24.json")};
    std::unique_ptr<AgentServer> agent_;
};

TEST_F(ClientAgentTlsTest, AManagerWithACertificateFromTheClientCaIsServedAndLoggedByIt) {
    StartAgent(AgentFiles(pki_));
    auto client = Client(&pki_.manager);
    ASSERT_TRUE(Ready(*client));
    Outcomes outcomes;
    ASSERT_EQ(
        client->SendScsiIn(sim_.Device(), Cdb{0x1C, 0x01, 0x01, 0xFF, 0xFF}, 30, outcomes.For(1)),
        kOk);
    ASSERT_TRUE(Completes(*client, outcomes, 1));
    EXPECT_GT(outcomes.results[1][0], 40);
    EXPECT_EQ(log_.Containing("TLS on, managers need a certificate from " + pki_.ca).size(), 1u);
    const auto authorised = log_.Containing("authorised TEST-MANAGER at 127.0.0.1:");
    ASSERT_EQ(authorised.size(), 1u);
    EXPECT_NE(authorised[0].find("with certificate CN=test-manager,O=Halvorin tests"),
              std::string::npos)
        << authorised[0];
    client->Stop();
}

TEST_F(ClientAgentTlsTest, ManagersWithoutTheRightCertificateAreRefusedAndNothingIsServed) {
    const struct {
        const char* what;
        TlsFiles files;
        const char* agent_says;
    } cases[] = {
        {"no certificate", {pki_.ca, "", ""}, "did not return a certificate"},
        {"another CA's", pki_.stranger, "unable to get local issuer certificate"},
        {"an expired one", pki_.expired, "certificate has expired"},
    };
    StartAgent(AgentFiles(pki_));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto client = Client(&c.files);
        ASSERT_TRUE(FailsWith(*client, kTlsFailed));
        EXPECT_FALSE(client->last_tls_error().empty());
        EXPECT_TRUE(test::Eventually([&] { return !log_.Containing(c.agent_says).empty(); }));
        EXPECT_NE(client->state(), kStateReady);
        client->Stop();
    }
    EXPECT_EQ(log_.Containing("TLS refused").size(), std::size(cases));
    EXPECT_TRUE(log_.Containing("authorised").empty());
    EXPECT_TRUE(agent_->ServedManagers().empty());
}

TEST_F(ClientAgentTlsTest, TheManagerRefusesAnAgentCertificateForAnotherHost) {
    StartAgent({pki_.ca, pki_.elsewhere.cert, pki_.elsewhere.key});
    auto client = Client(&pki_.manager);
    ASSERT_TRUE(FailsWith(*client, kTlsFailed));
    EXPECT_NE(client->last_tls_error().find("mismatch"), std::string::npos)
        << client->last_tls_error();
    client->Stop();
}

TEST_F(ClientAgentTlsTest, PlainAndTlsEndsDoNotServeEachOther) {
    StartAgent(AgentFiles(pki_));
    auto plain = Client(nullptr);
    ASSERT_TRUE(test::Eventually([&] {
        plain->DeliverCompleted();
        return plain->last_hello_result() == kHelloRefused;
    }));
    EXPECT_EQ(plain->last_refusal_text(), "this agent serves managers over TLS only");
    EXPECT_EQ(log_.Containing("hello without TLS").size(), 1u);
    plain->Stop();

    agent_.reset();
    StartAgent({});
    auto secure = Client(&pki_.manager);
    ASSERT_TRUE(FailsWith(*secure, kTlsFailed)) << secure->last_failure();
    secure->Stop();
    EXPECT_TRUE(log_.Containing("authorised").empty());
}

// A listed name needs proof that the peer is that manager: a certificate
// whose common name is the name gives it, without a name lookup (which would
// fail here: the test's manager name resolves nowhere).
TEST_F(ClientAgentTlsTest, ACertificateCarryingTheListedNameProvesIt) {
    StartAgent(AgentFiles(pki_), /*accept_claimed_names=*/false);
    auto named = Client(&pki_.manager);
    ASSERT_TRUE(Ready(*named));
    named->Stop();
}

TEST(TlsContextTest, FilesThatDoNotMakeAContextSayWhy) {
    test::TestCertificates pki;
    const struct {
        TlsRole role;
        TlsFiles files;
        const char* error;
    } cases[] = {
        {TlsRole::kAgent, {pki.ca, pki.agent.cert, ""}, "needs its key"},
        {TlsRole::kAgent, {"", pki.agent.cert, pki.agent.key}, "managers' CA"},
        {TlsRole::kManager, {"", pki.manager.cert, pki.manager.key}, "CA of the agents"},
        {TlsRole::kAgent, {pki.ca, pki.folder + "/missing.pem", pki.agent.key}, "missing.pem"},
        {TlsRole::kAgent, {pki.ca, pki.agent.cert, pki.manager.key}, "mismatch"},
        {TlsRole::kManager, {pki.agent.key, "", ""}, "cannot read CA"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(TlsContext::Create(c.role, c.files, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace halvorin
